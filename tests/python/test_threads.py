"""Eight threads sharing one TctStore and one agent, verifying a mix of good and bad tokens with
and without the cache while one thread also clears the store: every answer equals the one a single
thread gets, and the store never holds more than its bound."""

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
