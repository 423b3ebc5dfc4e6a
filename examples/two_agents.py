"""Two agents publish their Manifests and each checks the other's.

Run after a build with: PYTHONPATH=build/python /usr/bin/python3 examples/two_agents.py
"""

import json

import zelk

# RFC 8032 section 7.1, test 1 private key: a fixed, well-known Ed25519 identity.
RFC8032_TEST1_SEED = bytes.fromhex(
    "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60")


def show(title: str, agent: zelk.ZelkAgent, manifest_json: str) -> None:
    print(f"== {title}")
    print(f"AID:        {agent.aid}")
    print(f"thumbprint: {zelk.compute_aid_jkt(agent.aid)}")
    print("Manifest envelope:")
    print(manifest_json)
    print()


def check(title: str, manifest_json: str) -> None:
    zelk.verify_manifest_json(manifest_json)
    print(f"verify {title}: ok")


def check_refused(title: str, manifest_json: str, now: int | None = None) -> None:
    try:
        zelk.verify_manifest_json(manifest_json, now)
    except zelk.ManifestVerificationError as error:
        print(f"expected to fail: verify {title}: code={error.code!r}: {error}")
    else:
        raise AssertionError(f"{title} was accepted")


def main() -> None:
    alice = zelk.ZelkAgent.from_seed(RFC8032_TEST1_SEED)
    alice_manifest = alice.build_manifest(
        "Alice", "https://alice.example/zelk/handshake/hello", ["calendar.read", "calendar.write"],
        required_caps=["mail.send"])
    show("Alice (Ed25519, pinned key)", alice, alice_manifest)

    # A P-256 key has no pinned-key form, so this agent names an OIDC identity instead.
    bob = zelk.ZelkAgent.generate("p256")
    bob_manifest = bob.build_manifest(
        "Bob", "HTTPS://Bob.Example:443/zelk/handshake/hello", ["mail.send"],
        identity_type="oidc", oidc_issuer="https://IdP.example", oidc_subject="bob@example.com")
    show("Bob (P-256, OIDC)", bob, bob_manifest)

    print("== verifying the Manifests")
    check("Alice's Manifest", alice_manifest)
    check("Bob's Manifest", bob_manifest)

    # What a verifier sees for a stale or tampered Manifest.
    expires_at = json.loads(alice_manifest)["manifest"]["expires_at"]
    check_refused("Alice's Manifest one second after it expires", alice_manifest, expires_at + 1)
    tampered = alice_manifest.replace('"Alice"', '"Mallory"', 1)
    check_refused("Alice's Manifest with another display name", tampered)


if __name__ == "__main__":
    main()
