"""Eight threads sharing one TctStore and one agent, verifying a mix of good and bad tokens with
and without the cache while one thread also clears the store: every answer equals the one a single
thread gets, and the store never holds more than its bound. Then every other reader and builder,
with one JwksProvider shared by OIDC handshakes while its issuers change."""

import json
import random
import threading
import time
import uuid

import zelk
from tct_tokens import Key, mint, sign_token, claims_for

THREADS = 8
SECONDS = 2.0
CAPACITY = 8


def outcome(call):
    try:
        identity = call()
    except (ValueError, RuntimeError) as error:
        return (type(error).__name__, str(error))
    return ("ok", identity.peer_aid, identity.jti, tuple(identity.grants), identity.expires_at)


def test_threads_agree_with_a_single_thread():
    me = Key()
    agent = me.agent()
    issuers = [Key(), Key("p256"), Key()]
    other = Key()
    revoked = str(uuid.uuid4())
    tokens = [mint(issuer, me.aid, grants=("read", "write")) for issuer in issuers]
    tokens += [mint(issuer, me.aid, grants=("read",)) for issuer in issuers]
    tokens += [
        mint(issuers[0], me.aid, jti=revoked),
        mint(issuers[1], me.aid, ttl=-3600),
        mint(issuers[2], other.aid),
        sign_token(issuers[0], claims_for(issuers[1].aid, me.aid)),
        tokens[0][:-2] + ("AA" if not tokens[0].endswith("AA") else "BA"),
        "not a token",
    ]
    tokens += [mint(Key(), me.aid) for _ in range(CAPACITY)]  # more than the store holds
    calls = [(token, grant) for token in tokens for grant in ("read", "write")]
    revoked_jtis = {revoked}

    def cached(store, token, grant):
        return lambda: agent.verify_tct_cached(token, grant, store, revoked_jtis=revoked_jtis)

    def uncached(token, grant):
        return lambda: agent.verify_tct(token, grant, revoked_jtis=revoked_jtis)

    expected = {call: outcome(uncached(*call)) for call in calls}
    single_store = zelk.TctStore(CAPACITY)
    for call in calls * 2:
        assert outcome(cached(single_store, *call)) == expected[call]
    assert sum(1 for v in expected.values() if v[0] == "ok") >= 6

    store = zelk.TctStore(CAPACITY)
    failures = []
    deadline = time.monotonic() + SECONDS

    def worker(index):
        rng = random.Random(index)
        while time.monotonic() < deadline and not failures:
            call = rng.choice(calls)
            use_cache = rng.random() < 0.8
            got = outcome(cached(store, *call) if use_cache else uncached(*call))
            if got != expected[call]:
                failures.append((index, call, got, expected[call]))
            size = store.len()
            if not 0 <= size <= CAPACITY:
                failures.append((index, "size", size))
            if index == 0 and rng.random() < 0.01:
                store.clear()

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


# ---- every other shared object and function --------------------------------------------------

def plain(value):
    """A comparable form of a result: verified delegations by their fields."""
    if isinstance(value, zelk.DelegationVerified):
        return ("delegation", value.delegator, value.issued_by, value.delegatee,
                tuple(value.grants), value.expires_at, value.cnf)
    return value


def result_of(call):
    try:
        return ("ok", plain(call()))
    except Exception as error:  # every refusal is compared, whatever its class
        return (type(error).__name__, str(error), getattr(error, "code", None))


def test_threads_agree_on_every_reader_and_a_shared_jwks_provider():
    import datetime

    from cryptography import x509
    from cryptography.hazmat.primitives import serialization
    from cryptography.hazmat.primitives.asymmetric import ed25519
    from cryptography.x509.oid import NameOID

    from delegation_tokens import Parties
    from handshake_agents import Handshake, IdentityProvider, Party

    now = int(time.time())
    parties = Parties(now)
    single = parties.single()
    chain, _ = parties.chain(2)
    verifier = parties.grantor.aid

    me = Key()
    agent = me.agent()
    revocation = agent.sign_revocation_list([{"jti": str(uuid.uuid4()), "revoked_at": now}], 600)
    tampered_revocation = revocation.replace('"revoked_at":', '"revoked_at":1', 1)
    holder = Key()
    holder_tct = mint(me, holder.aid)
    bundle = zelk.SessionBundleBuilder(agent).participant(holder.aid, holder_tct).build()
    renewal = holder.agent().build_renewal_request(holder_tct)

    cert_key = ed25519.Ed25519PrivateKey.from_private_bytes(bytes(range(32)))
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "threads.example")])
    cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name)
            .public_key(cert_key.public_key()).serial_number(7)
            .not_valid_before(datetime.datetime(2024, 1, 1))
            .not_valid_after(datetime.datetime(2034, 1, 1))
            .sign(cert_key, None).public_bytes(serialization.Encoding.DER))
    pins = zelk.SpkiPinVerifier([zelk.compute_spki_hash(cert)])

    calls = {
        "single": lambda: zelk.verify_delegation(single, verifier),
        "single_wrong_verifier": lambda: zelk.verify_delegation(single, me.aid),
        "chain": lambda: zelk.verify_delegation_multihop(chain, verifier, 4),
        "chain_too_long": lambda: zelk.verify_delegation_multihop(chain, verifier, 3),
        "revocation": lambda: zelk.verify_revocation_list(revocation, me.aid),
        "revocation_tampered": lambda: zelk.verify_revocation_list(tampered_revocation, me.aid),
        "revocation_bytes": lambda: zelk.revocation_signing_bytes(revocation),
        "bundle": lambda: zelk.verify_session_bundle(bundle, holder.aid),
        "bundle_outsider": lambda: zelk.verify_session_bundle(bundle, me.aid),
        "spki": lambda: zelk.compute_spki_hash(cert),
        "pinned": lambda: pins.is_pinned(cert),
        "not_pinned": lambda: pins.is_pinned(cert[:-1] + bytes([cert[-1] ^ 1])),
        "renewal_refused": lambda: agent.process_renewal_request(renewal, now - 1, 3600),
    }
    expected = {name: result_of(call) for name, call in calls.items()}
    assert expected["single"][0] == expected["chain"][0] == expected["bundle"][0] == "ok"
    assert expected["single_wrong_verifier"][0] != "ok" and expected["revocation_tampered"][0] != "ok"

    # One provider shared by every thread: OIDC handshakes through it while other issuers come
    # and go and its own issuer's keys are written again with the same key.
    idp = IdentityProvider()
    provider = idp.provider()
    initiator = Party("Ini", identity="oidc", idp=idp)
    responder = Party("Res", identity="oidc", idp=idp)
    others = [IdentityProvider(issuer=f"https://idp{i}.example/") for i in range(4)]

    def handshake():
        received_i, received_r = Handshake(initiator, responder, jwks=provider).run()
        return (sorted(received_i), sorted(received_r))

    expected_handshake = result_of(handshake)
    assert expected_handshake[0] == "ok"
    renewed = result_of(lambda: agent.process_renewal_request(renewal, now + 7200, 600))
    assert renewed[0] == "ok"

    failures = []
    deadline = time.monotonic() + SECONDS
    names = sorted(calls)

    def worker(index):
        rng = random.Random(index)
        while time.monotonic() < deadline and not failures:
            roll = rng.random()
            if roll < 0.15:
                got = result_of(handshake)
                if got != expected_handshake:
                    failures.append((index, "handshake", got))
            elif roll < 0.25:
                other = rng.choice(others)
                if rng.random() < 0.5:
                    provider.upsert(other.issuer, [other.jwk])
                else:
                    provider.remove(other.issuer)
                provider.upsert(idp.issuer, [idp.jwk])
                if idp.issuer not in provider.issuers():
                    failures.append((index, "issuers", provider.issuers()))
            elif roll < 0.3:
                got = result_of(lambda: agent.process_renewal_request(renewal, now + 7200, 600))
                if got[0] != "ok" or json.loads(got[1]).keys() != json.loads(renewed[1]).keys():
                    failures.append((index, "renewal", got))
            else:
                name = rng.choice(names)
                got = result_of(calls[name])
                if got != expected[name]:
                    failures.append((index, name, got, expected[name]))

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
