#!/usr/bin/env python3
"""An independent check of NTLM authenticate messages with NTLMv2 responses:
given user, domain, password and the server challenge, recomputes the
NTProofStr from the client blob in the message and compares. MD4 is written
out here because hashlib lacks it under OpenSSL 3.

    verify_authenticate(msg, user, domain, password, server_challenge,
                        target_info=None) -> session base key (bytes)
raises VerifyError with the reason when the message is wrong; verify() is
the same as a yes or no. make_challenge() builds a server's challenge
message. Also a command:
    ntlm_verify.py HEXMSG USER DOMAIN PASSWORD HEXCHALLENGE
"""
import hashlib
import hmac
import os
import struct
import sys
import time


class VerifyError(Exception):
    pass


def _rotl(x, s):
    x &= 0xFFFFFFFF
    return ((x << s) | (x >> (32 - s))) & 0xFFFFFFFF


def md4(data):
    """RFC 1320."""
    data = bytes(data)
    length = len(data) * 8
    data += b"\x80" + b"\x00" * ((55 - len(data)) % 64) + struct.pack("<Q", length)
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for off in range(0, len(data), 64):
        x = struct.unpack("<16I", data[off:off + 64])
        aa, bb, cc, dd = a, b, c, d
        f = lambda x_, y, z: (x_ & y) | (~x_ & z)
        g = lambda x_, y, z: (x_ & y) | (x_ & z) | (y & z)
        h = lambda x_, y, z: x_ ^ y ^ z
        for i in range(16):
            k, s = i, (3, 7, 11, 19)[i % 4]
            a, b, c, d = d, _rotl(a + f(b, c, d) + x[k], s), b, c
        for i in range(16):
            k, s = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            a, b, c, d = d, _rotl(a + g(b, c, d) + x[k] + 0x5A827999, s), b, c
        for i in range(16):
            k, s = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)[i], (3, 9, 11, 15)[i % 4]
            a, b, c, d = d, _rotl(a + h(b, c, d) + x[k] + 0x6ED9EBA1, s), b, c
        a, b, c, d = [(v + w) & 0xFFFFFFFF for v, w in zip((a, b, c, d), (aa, bb, cc, dd))]
    return struct.pack("<4I", a, b, c, d)


def nt_hash(password):
    return md4(password.encode("utf-16-le"))


def ntowfv2(user, domain, password):
    return hmac.new(nt_hash(password), (user.upper() + domain).encode("utf-16-le"), hashlib.md5).digest()


def _field(msg, at, name):
    if len(msg) < at + 8:
        raise VerifyError("message too short for the %s field" % name)
    length, maxlen, offset = struct.unpack_from("<HHI", msg, at)
    if length != maxlen:
        raise VerifyError("%s: length %d and maximum length %d differ" % (name, length, maxlen))
    if offset + length > len(msg):
        raise VerifyError("%s: bytes %d..%d lie past the end (%d)" % (name, offset, offset + length, len(msg)))
    return msg[offset:offset + length]


def parse_authenticate(msg):
    msg = bytes(msg)
    if len(msg) < 64 or msg[:8] != b"NTLMSSP\x00" or struct.unpack_from("<I", msg, 8)[0] != 3:
        raise VerifyError("not an authenticate message")
    return {
        "lm": _field(msg, 12, "LmChallengeResponse"),
        "nt": _field(msg, 20, "NtChallengeResponse"),
        "domain": _field(msg, 28, "DomainName").decode("utf-16-le"),
        "user": _field(msg, 36, "UserName").decode("utf-16-le"),
        "workstation": _field(msg, 44, "Workstation"),
        "session_key": _field(msg, 52, "EncryptedRandomSessionKey"),
        "flags": struct.unpack_from("<I", msg, 60)[0],
    }


def verify_authenticate(msg, user, domain, password, server_challenge, target_info=None):
    m = parse_authenticate(msg)
    if m["user"] != user:
        raise VerifyError("user %r, expected %r" % (m["user"], user))
    if m["domain"] != domain:
        raise VerifyError("domain %r, expected %r" % (m["domain"], domain))
    nt = m["nt"]
    if len(nt) < 16 + 28 + 4:
        raise VerifyError("NT response of %d bytes is no NTLMv2 response" % len(nt))
    proof, blob = nt[:16], nt[16:]
    if blob[:2] != b"\x01\x01" or blob[2:8] != b"\x00" * 6 or blob[24:28] != b"\x00" * 4:
        raise VerifyError("client blob header wrong: %s" % blob[:28].hex())
    if blob[-4:] != b"\x00" * 4:
        raise VerifyError("client blob does not end with four zeros")
    if target_info is not None and blob[28:-4] != bytes(target_info):
        raise VerifyError("target info in the blob differs from the server's")
    key = ntowfv2(user, domain, password)
    expected = hmac.new(key, bytes(server_challenge) + blob, hashlib.md5).digest()
    if proof != expected:
        raise VerifyError("NTProofStr %s, expected %s" % (proof.hex(), expected.hex()))
    client_challenge = blob[16:24]
    lm = m["lm"]
    lmv2 = hmac.new(key, bytes(server_challenge) + client_challenge, hashlib.md5).digest() + client_challenge
    if lm != b"\x00" * 24 and lm != lmv2:
        raise VerifyError("LM response is neither zeros nor the LMv2 response")
    return hmac.new(key, proof, hashlib.md5).digest()


def verify(msg, user, domain, password, server_challenge, target_info=None):
    try:
        verify_authenticate(msg, user, domain, password, server_challenge, target_info)
        return True
    except VerifyError as e:
        print("ntlm_verify: %s" % e, file=sys.stderr, flush=True)
        return False


# Unicode, request target, NTLM, always sign, target type domain, extended
# session security, target info, 128-bit and 56-bit keys.
CHALLENGE_FLAGS = 0x1 | 0x4 | 0x200 | 0x8000 | 0x10000 | 0x80000 | 0x800000 | 0x20000000 | 0x80000000


def make_challenge(domain="TESTDOM", computer="SERVER"):
    """(challenge message, server challenge, target info): a fresh random
    server challenge, the target info holding both names and a timestamp."""
    def av(kind, value):
        return struct.pack("<HH", kind, len(value)) + value
    name = (domain or "WORKGROUP").encode("utf-16-le")
    filetime = int((time.time() + 11644473600) * 10000000)
    info = (av(2, name) + av(1, computer.encode("utf-16-le")) + av(7, struct.pack("<Q", filetime)) + av(0, b""))
    server_challenge = os.urandom(8)
    header = 48
    msg = (b"NTLMSSP\x00" + struct.pack("<I", 2) + struct.pack("<HHI", len(name), len(name), header) +
           struct.pack("<I", CHALLENGE_FLAGS) + server_challenge + b"\x00" * 8 +
           struct.pack("<HHI", len(info), len(info), header + len(name)) + name + info)
    return msg, server_challenge, info


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit("usage: ntlm_verify.py HEXMSG USER DOMAIN PASSWORD HEXCHALLENGE")
    try:
        verify_authenticate(bytes.fromhex(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4],
                            bytes.fromhex(sys.argv[5]))
    except VerifyError as e:
        sys.exit("ntlm_verify: %s" % e)
    print("ok")
