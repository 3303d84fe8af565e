#!/usr/bin/env python3
"""Recomputes the hash of every service record from `beamport-cli records --json`
(standard input or a file), outside the program: SHA-256 of the RFC 8785
canonical JSON of each record without "hash" and "sig". Prints one line per
record and exits 1 when any differs (records before a migration record follow
the old rule and are only counted)."""
import hashlib, json, sys

def jcs(v):
    if v is None: return "null"
    if v is True: return "true"
    if v is False: return "false"
    if isinstance(v, int): return str(v)
    if isinstance(v, float):  # ECMAScript's Number to string
        if v == 0: return "0"
        m, e = f"{abs(v):.17e}".split("e")
        d = repr(abs(v)).replace(".", "").lstrip("0").split("e")[0].rstrip("0") or "0"
        n = int(e) + 1 if float(m[0] + "." + d[1:] + "e" + e) == abs(v) else int(e) + 2
        s = "-" if v < 0 else ""
        if len(d) <= n <= 21: return s + d + "0" * (n - len(d))
        if 0 < n <= 21: return s + d[:n] + "." + d[n:]
        if -6 < n <= 0: return s + "0." + "0" * -n + d
        return s + d[0] + ("." + d[1:] if len(d) > 1 else "") + "e" + ("+" if n > 0 else "-") + str(abs(n - 1))
    if isinstance(v, str): return json.dumps(v, ensure_ascii=False)
    if isinstance(v, list): return "[" + ",".join(jcs(x) for x in v) + "]"
    keys = sorted(v, key=lambda k: k.encode("utf-16-be"))
    return "{" + ",".join(json.dumps(k, ensure_ascii=False) + ":" + jcs(v[k]) for k in keys) + "}"

records = json.load(open(sys.argv[1]) if len(sys.argv) > 1 else sys.stdin)
if isinstance(records, dict): records = [records]
marker = min((r["id"] for r in records if r["job"] == "records-migration"), default=0)
bad = 0
for r in sorted(records, key=lambda r: r["id"]):
    if r["id"] < marker:
        print(f"{r['id']} old rule"); continue
    body = {k: x for k, x in r.items() if k not in ("hash", "sig")}
    h = hashlib.sha256(jcs(body).encode("utf-8")).hexdigest()
    print(f"{r['id']} {'ok' if h == r['hash'] else 'DIFFERS ' + h}")
    bad += h != r["hash"]
sys.exit(1 if bad else 0)
