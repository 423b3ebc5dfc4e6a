"""ZelkAgent construction from random keys and seeds, and its AID."""

import base64

import pytest

import zelk
from vectors import P256_N, RFC8032

Agent = zelk.ZelkAgent

# The base point G in compressed form: its y coordinate is odd.
P256_G_COMPRESSED = "036b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296"


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def scalar(k):
    return k.to_bytes(32, "big")


def test_rfc8032_test1_seed():
    seed = bytes.fromhex(RFC8032[0][0])
    assert Agent.from_seed(seed).aid == "aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo"


@pytest.mark.parametrize("private, public", RFC8032)
def test_rfc8032_seeds(private, public):
    agent = Agent.from_seed(bytes.fromhex(private), "ed25519")
    assert agent.aid == "aid:pubkey:" + b64url(bytes.fromhex(public))
    assert Agent.from_seed(seed=bytes.fromhex(private)).aid == agent.aid


def test_generate_ed25519():
    for agent in (Agent.generate(), Agent.generate("ed25519"), Agent.generate(suite="ed25519")):
        assert agent.aid.startswith("aid:pubkey:") and len(agent.aid) == 54
        assert not agent.aid.startswith("aid:pubkey:p256:")
    assert Agent.generate().aid != Agent.generate().aid


def test_generate_p256():
    aids = {Agent.generate("p256").aid for _ in range(3)}
    assert len(aids) == 3
    for aid in aids:
        assert aid.startswith("aid:pubkey:p256:") and len(aid) == 60
        assert base64.urlsafe_b64decode(aid[16:] + "=")[0] in (2, 3)


def test_static_methods_work_on_instances():
    agent = Agent.generate()
    assert agent.generate().aid != agent.aid
    assert agent.from_seed(bytes(32)).aid == Agent.from_seed(bytes(32)).aid


def test_aid_is_a_new_str_each_read():
    agent = Agent.generate("p256")
    first, second = agent.aid, agent.aid
    assert first == second and type(first) is str
    assert first is not second


def test_seed_is_deterministic_per_suite():
    seed = bytes(range(1, 33))
    ed = Agent.from_seed(seed)
    assert Agent.from_seed(seed).aid == ed.aid
    p256 = Agent.from_seed(seed, "p256")
    assert Agent.from_seed(seed, suite="p256").aid == p256.aid
    assert len(p256.aid) == 60 and p256.aid != ed.aid


def test_p256_scalar_one_is_the_base_point():
    agent = Agent.from_seed(scalar(1), "p256")
    assert agent.aid == "aid:pubkey:p256:" + b64url(bytes.fromhex(P256_G_COMPRESSED))


@pytest.mark.parametrize("seed", [
    bytes(32), b"\xff" * 32, scalar(P256_N), scalar(P256_N + 1),
])
def test_p256_seed_out_of_range(seed):
    with pytest.raises(ValueError) as info:
        Agent.from_seed(seed, "p256")
    assert str(info.value) == "invalid P-256 seed: public key parsing failed: signature error"
    assert type(info.value) is ValueError


def test_p256_seed_just_below_the_order():
    assert len(Agent.from_seed(scalar(P256_N - 1), "p256").aid) == 60


def test_every_ed25519_seed_is_valid():
    for seed in (bytes(32), b"\xff" * 32, scalar(P256_N)):
        assert len(Agent.from_seed(seed).aid) == 54


@pytest.mark.parametrize("call, message", [
    (lambda: Agent.generate("P256"), "unknown suite 'P256': expected 'ed25519' or 'p256'"),
    (lambda: Agent.generate("ED25519"), "unknown suite 'ED25519': expected 'ed25519' or 'p256'"),
    (lambda: Agent.generate("ed-25519"),
     "unknown suite 'ed-25519': expected 'ed25519' or 'p256'"),
    (lambda: Agent.generate(""), "unknown suite '': expected 'ed25519' or 'p256'"),
    (lambda: Agent.generate("p256 "), "unknown suite 'p256 ': expected 'ed25519' or 'p256'"),
    (lambda: Agent.generate("ed25519\x00"),
     "unknown suite 'ed25519\x00': expected 'ed25519' or 'p256'"),
    (lambda: Agent.generate("é"), "unknown suite 'é': expected 'ed25519' or 'p256'"),
    (lambda: Agent.from_seed(bytes(32), "x"), "unknown suite 'x': expected 'ed25519' or 'p256'"),
    # The length is checked before the suite.
    (lambda: Agent.from_seed(bytes(31), "x"), "seed must be exactly 32 bytes"),
    (lambda: Agent.from_seed(bytes(33)), "seed must be exactly 32 bytes"),
    (lambda: Agent.from_seed(b""), "seed must be exactly 32 bytes"),
    (lambda: Agent.from_seed(bytes(10**6), "p256"), "seed must be exactly 32 bytes"),
])
def test_value_errors(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert type(info.value) is ValueError
    assert str(info.value) == message
    assert not getattr(info.value, "__notes__", None)


class Seed(bytes):
    pass


def test_bytes_subclass_seed_and_str_subclass_suite():
    class Suite(str):
        pass

    seed = bytes.fromhex(RFC8032[0][0])
    assert Agent.from_seed(Seed(seed), Suite("ed25519")).aid == Agent.from_seed(seed).aid
    assert len(Agent.generate(Suite("p256")).aid) == 60


@pytest.mark.parametrize("args, kwargs, exc_type, message, param", [
    ((bytearray(32),), {}, TypeError, "'bytearray' object is not an instance of 'bytes'", "seed"),
    ((memoryview(bytes(32)),), {}, TypeError,
     "'memoryview' object is not an instance of 'bytes'", "seed"),
    (("0" * 32,), {}, TypeError, "'str' object is not an instance of 'bytes'", "seed"),
    ((None,), {}, TypeError, "'None' is not an instance of 'bytes'", "seed"),
    ((2**100,), {}, TypeError, "'int' object is not an instance of 'bytes'", "seed"),
    ((list(range(32)),), {}, TypeError, "'list' object is not an instance of 'bytes'", "seed"),
    ((bytes(32),), {"suite": None}, TypeError, "'None' is not an instance of 'str'", "suite"),
    ((bytes(32), 2**100), {}, TypeError, "'int' object is not an instance of 'str'", "suite"),
    ((bytes(32), b"p256"), {}, TypeError, "'bytes' object is not an instance of 'str'", "suite"),
    ((bytes(32), "\udc80"), {}, UnicodeEncodeError, None, "suite"),
    # The seed is converted before the suite.
    ((bytearray(32), 1), {}, TypeError, "'bytearray' object is not an instance of 'bytes'",
     "seed"),
])
def test_from_seed_conversion_errors(args, kwargs, exc_type, message, param):
    with pytest.raises(exc_type) as info:
        Agent.from_seed(*args, **kwargs)
    assert type(info.value) is exc_type
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{param}'"]


@pytest.mark.parametrize("suite, exc_type, message", [
    (None, TypeError, "'None' is not an instance of 'str'"),
    (1, TypeError, "'int' object is not an instance of 'str'"),
    (-2**200, TypeError, "'int' object is not an instance of 'str'"),
    ("p\udc80256", UnicodeEncodeError, None),
])
def test_generate_conversion_errors(suite, exc_type, message):
    with pytest.raises(exc_type) as info:
        Agent.generate(suite)
    assert type(info.value) is exc_type
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'suite'"]


def test_many_agents_are_released():
    # Creating and dropping agents repeatedly must neither crash nor keep them alive.
    import gc
    import sys

    seed = bytes(32)
    before = sys.getrefcount(seed)
    for _ in range(2000):
        Agent.from_seed(seed).aid
        Agent.generate("p256")
    gc.collect()
    assert sys.getrefcount(seed) == before
