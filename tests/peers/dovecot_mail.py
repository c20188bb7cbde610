#!/usr/bin/env python3
"""The mail side of tests/peers/dovecot.sh: picks and crafts the messages,
talks IMAP to the test's Dovecot, and compares what it shows with the scan's
log. Standard library only.

  prepare CORPUS OUT         writes OUT/corpus/*.eml (delivered by the shell
                             script), OUT/crafted/*.eml and OUT/rules.tsv
  append PORT DIR            IMAP APPEND of DIR/*.eml, each with its own
                             received date in the past
  mark PORT                  sets \\Seen (and a few other flags) on a fixed
                             subset of INBOX
  snapshot PORT OUT.json     UID, flags, received date and body hash of every
                             message of INBOX and INBOX.Spam
  verify BEFORE AFTER DB RULES ROWS.json
                             the checks after a scan, exit 1 naming each
                             fault; the log's rows are saved to ROWS.json
  same A B ROWS.json DB      a second scan changed neither mailbox nor log

The account is vxuser / vxpass on 127.0.0.1. Every failure is one line on
standard error and exit status 1.
"""

import datetime
import email.utils
import hashlib
import imaplib
import json
import os
import re
import sqlite3
import sys

USER, PASSWORD = "vxuser", "vxpass"
SPAM_BOX = "INBOX.Spam"
# The words of the message rule, and the crafted message that carries them.
RULE_WORDS = "varnox peer rule quarantine turquoise accordion"
# Groups of the corpus, each read in name order and sampled every step-th
# file: 80 spam and 120 ham.
SAMPLE = [("spam-1", 5, 80), ("easy-ham-1", 25, 80), ("hard-ham-1", 5, 40)]


def fail(message):
    print(f"== dovecot: FAILED: {message}", file=sys.stderr)
    sys.exit(1)


def header_value(raw, name):
    """The first header NAME of a raw message, unfolded, or ''."""
    head = raw.split(b"\n\n", 1)[0].replace(b"\r\n", b"\n")
    m = re.search(rb"^" + name.encode() + rb":[ \t]*(.*(?:\n[ \t].*)*)", head, re.I | re.M)
    return m.group(1).replace(b"\n", b" ").decode("latin-1").strip() if m else ""


def sender_address(raw):
    return email.utils.parseaddr(header_value(raw, "From"))[1]


def crafted_messages():
    """(name, bytes) of the hand-made messages: the odd shapes a real inbox has."""
    def msg(n, headers, body, eol=b"\n"):
        lines = [f"Message-ID: <vx-crafted-{n}@varnox.test>".encode(),
                 f"Date: Mon, 0{n} Dec 2025 10:00:00 +0000".encode()] + headers
        return eol.join(lines) + eol + eol + body.replace(b"\n", eol)

    eight_bit = ("Grüße aus Köln – the café's crème brûlée, ½ price, ünïcödé.\n"
                 f"{RULE_WORDS}\n").encode() + b"Latin-1 too: \xe9t\xe9 \xfcber.\n"
    boundary = b"vx-boundary-42"
    multipart = (b"--" + boundary + b"\nContent-Type: text/plain; charset=us-ascii\n\n"
                 b"The report is attached.\n--" + boundary +
                 b"\nContent-Type: application/pdf; name=report.pdf\n"
                 b"Content-Transfer-Encoding: base64\n"
                 b"Content-Disposition: attachment; filename=report.pdf\n\n"
                 b"JVBERi0xLjQKJcfsj6IKNSAwIG9iago8PC9MZW5ndGggNiAwIFI+PgpzdHJlYW0K\n"
                 b"--" + boundary + b"--\n")
    return [
        ("8bit", msg(1, [b"From: Kim Brenner <kim@peer.varnox.test>", b"To: vxuser@localhost",
                         b"Subject: Gr\xc3\xbc\xc3\x9fe", b"MIME-Version: 1.0",
                         b"Content-Type: text/plain; charset=utf-8",
                         b"Content-Transfer-Encoding: 8bit"], eight_bit)),
        ("crlf", msg(2, [b"From: crlf@peer.varnox.test", b"To: vxuser@localhost",
                         b"Subject: Line ends already CR LF"],
                     b"First line.\nSecond line.\n", eol=b"\r\n")),
        ("multipart", msg(3, [b"From: Office <office@peer.varnox.test>", b"To: vxuser@localhost",
                              b"Subject: Quarterly report", b"MIME-Version: 1.0",
                              b'Content-Type: multipart/mixed; boundary="' + boundary + b'"'],
                          multipart)),
        ("nosubject", msg(4, [b"From: quiet@peer.varnox.test", b"To: vxuser@localhost",
                              b"Subject: "], b"A message without a subject.\n")),
        ("displayname", msg(5, [b"From: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= "
                                b"<juergen@spam.varnox.test>",
                                b"To: vxuser@localhost", b"Subject: Cheap watches"],
                            b"Buy now.\n")),
    ]


def prepare(corpus, out):
    os.makedirs(f"{out}/corpus")
    os.makedirs(f"{out}/crafted")
    seen, spam_senders = set(), []
    count = 0
    for group, step, want in SAMPLE:
        names = sorted(n for n in os.listdir(f"{corpus}/{group}") if n.endswith(".txt"))
        taken = 0
        for name in names[::step]:
            with open(f"{corpus}/{group}/{name}", "rb") as f:
                raw = f.read()
            if raw.startswith(b"From "):  # the mbox separator is no part of the message
                raw = raw.split(b"\n", 1)[1]
            digest = hashlib.sha256(raw).digest()
            # NULs are shown differently over IMAP, and identical files would
            # be one log row: both would blur the comparison.
            if b"\0" in raw or digest in seen or b"\n\n" not in raw:
                continue
            seen.add(digest)
            with open(f"{out}/corpus/{count:03d}-{group}.eml", "wb") as f:
                f.write(raw)
            address = sender_address(raw)
            # Every fourth spam sender gets a sender rule.
            plain = re.fullmatch(r"[\w.+-]+@[\w.-]+", address)
            if group.startswith("spam") and taken % 4 == 0 and plain:
                spam_senders.append(address)
            count += 1
            taken += 1
            if taken == want:
                break
    if count != 200:
        fail(f"the corpus gave {count} usable messages, not 200")
    for i, (name, raw) in enumerate(crafted_messages()):
        with open(f"{out}/crafted/{i}-{name}.eml", "wb") as f:
            f.write(raw)
    with open(f"{out}/rules.tsv", "w") as f:
        for address in sorted(set(spam_senders)) + ["juergen@spam.varnox.test"]:
            f.write(f"sender\t{address}\n")
        f.write(f"message\t{RULE_WORDS}\n")


def connect(port):
    imap = imaplib.IMAP4("127.0.0.1", int(port))
    imap.login(USER, PASSWORD)
    return imap


def check(result, what):
    typ, data = result
    if typ != "OK":
        fail(f"IMAP {what}: {typ} {data}")
    return data


def append(port, folder):
    imap = connect(port)
    start = datetime.datetime(2025, 3, 1, 9, 30, 15, tzinfo=datetime.timezone.utc)
    for i, name in enumerate(sorted(os.listdir(folder))):
        with open(f"{folder}/{name}", "rb") as f:
            raw = f.read()
        when = start + datetime.timedelta(days=37 * i, hours=5 * i, seconds=11 * i)
        check(imap.append("INBOX", None, imaplib.Time2Internaldate(when), raw), f"APPEND {name}")
    imap.logout()


def mark(port):
    """\\Seen on every third message by sequence number, \\Flagged on every
    seventh, \\Answered on every eleventh, and keywords (which Dovecot keeps
    as letters of the file name, mapped per folder) on every fifth and
    thirteenth: the scan must keep them all."""
    imap = connect(port)
    n = int(check(imap.select("INBOX"), "SELECT")[0])
    for flag, step in (("\\Seen", 3), ("\\Flagged", 7), ("\\Answered", 11),
                       ("$Forwarded", 5), ("$NotJunk Project_X", 13)):
        numbers = ",".join(str(k) for k in range(1, n + 1, step))
        check(imap.store(numbers, "+FLAGS.SILENT", f"({flag})"), f"STORE {flag}")
    imap.logout()


def read_folder(imap, box):
    typ, data = imap.select(box, readonly=True)
    if typ != "OK":
        return None
    validity = imap.response("UIDVALIDITY")[1][0]
    if int(data[0]) == 0:
        return {"uidvalidity": int(validity), "messages": []}
    messages = {}
    for line in check(imap.uid("FETCH", "1:*", "(UID FLAGS INTERNALDATE)"), "FETCH flags"):
        line = line.decode()
        uid = int(re.search(r"UID (\d+)", line).group(1))
        flags = sorted(set(re.search(r"FLAGS \(([^)]*)\)", line).group(1).split()) - {"\\Recent"})
        date = re.search(r'INTERNALDATE "([^"]+)"', line).group(1)
        messages[uid] = {"uid": uid, "flags": flags, "date": date}
    # BODY.PEEK: a plain RFC822 fetch would set \Seen itself.
    for item in check(imap.uid("FETCH", "1:*", "(UID BODY.PEEK[])"), "FETCH bodies"):
        if not isinstance(item, tuple):
            continue
        uid = int(re.search(rb"UID (\d+)", item[0]).group(1))
        body = item[1]
        messages[uid]["hash"] = hashlib.sha256(body).hexdigest()
        messages[uid]["logkey"] = log_key(body)
        messages[uid]["from"] = sender_address(body)
        messages[uid]["size"] = len(body)
    imap.close()
    ordered = sorted(messages.values(), key=lambda m: m["uid"])
    return {"uidvalidity": int(validity), "messages": ordered}


def snapshot(port, out):
    imap = connect(port)
    state = {box: read_folder(imap, box) for box in ("INBOX", SPAM_BOX)}
    imap.logout()
    with open(out, "w") as f:
        json.dump(state, f, indent=1, sort_keys=True)


def load(path):
    with open(path) as f:
        return json.load(f)


def log_key(text):
    """The key of a message in the log: the log keeps its text with every
    apostrophe made a space, as it always has for SQL's sake."""
    return hashlib.sha256(text.replace(b"'", b" ")).hexdigest()


def log_rows(db):
    """hash of the logged message text -> (Id, Status, ReceivedDate, ReceivedTime)."""
    con = sqlite3.connect(f"file:{db}?mode=ro", uri=True)
    con.text_factory = bytes
    rows = {}
    for org, ident, status, day, time in con.execute(
            "SELECT OrgMessage, Id, Status, ReceivedDate, ReceivedTime FROM Msg"):
        digest = log_key(org)
        if digest in rows:
            fail(f"the log holds the message {digest[:12]} twice "
                 f"(Ids {rows[digest][0]} and {ident})")
        rows[digest] = (ident, status, day.decode(), time.decode())
    con.close()
    return rows


def by_hash(folder, box):
    out = {}
    for m in (folder or {"messages": []})["messages"]:
        if m["hash"] in out:
            fail(f"{box} shows one message twice (UIDs {out[m['hash']]['uid']} and {m['uid']})")
        out[m["hash"]] = m
    return out


def received_text(internal_date):
    """INTERNALDATE as the log writes ReceivedDate and ReceivedTime (in UTC)."""
    when = datetime.datetime.strptime(internal_date, "%d-%b-%Y %H:%M:%S %z")
    when = when.astimezone(datetime.timezone.utc)
    hour = when.hour % 12 or 12
    return (when.strftime("%A, %B %d, %Y"),
            f"{hour}:{when.strftime('%M:%S')} {'AM' if when.hour < 12 else 'PM'}")


def verify(before_path, after_path, db, rules_path, rows_path):
    before, after = load(before_path), load(after_path)
    if before[SPAM_BOX] is not None and before[SPAM_BOX]["messages"]:
        fail(f"{SPAM_BOX} was not empty before the scan")
    old = by_hash(before["INBOX"], "INBOX")
    inbox, spam = by_hash(after["INBOX"], "INBOX"), by_hash(after[SPAM_BOX], SPAM_BOX)
    if after[SPAM_BOX] is None:
        fail(f"{SPAM_BOX} does not exist after the scan")
    if before["INBOX"]["uidvalidity"] != after["INBOX"]["uidvalidity"]:
        fail("the UIDVALIDITY of INBOX changed: Dovecot rebuilt its UID list")
    both = set(inbox) & set(spam)
    if both:
        fail(f"{len(both)} messages are in both INBOX and {SPAM_BOX}")
    if set(inbox) | set(spam) != set(old):
        lost, new = set(old) - set(inbox) - set(spam), (set(inbox) | set(spam)) - set(old)
        fail(f"{len(lost)} messages lost and {len(new)} messages new or changed after the scan")
    faults = []
    for digest, m in old.items():
        now, box = (inbox[digest], "INBOX") if digest in inbox else (spam[digest], SPAM_BOX)
        if now["flags"] != m["flags"]:
            faults.append(f"UID {m['uid']} flags {m['flags']} became {now['flags']} in {box}")
        if now["date"] != m["date"]:
            faults.append(f"UID {m['uid']} received {m['date']} became {now['date']} in {box}")
        if box == "INBOX" and now["uid"] != m["uid"]:
            faults.append(f"UID {m['uid']} became UID {now['uid']} in INBOX")
    rows = log_rows(db)
    with open(rows_path, "w") as f:
        json.dump(rows, f, sort_keys=True)
    if len(rows) != len(old):
        faults.append(f"the log holds {len(rows)} rows for {len(old)} messages")
    for digest, m in list(inbox.items()) + list(spam.items()):
        box = "INBOX" if digest in inbox else SPAM_BOX
        row = rows.get(m["logkey"])
        if row is None:
            faults.append(f"{box} UID {m['uid']} (From {m['from']}) is not in the log")
            continue
        if row[1] != (1 if box == SPAM_BOX else 0):
            faults.append(f"{box} UID {m['uid']} is logged with Status {row[1]} (Id {row[0]})")
        if (row[2], row[3]) != received_text(m["date"]):
            faults.append(f"{box} UID {m['uid']} received {m['date']} "
                          f"is logged as {row[2]} {row[3]}")
    # The rules must have hit: every message from a ruled sender, and the one
    # that carries the rule's words, is spam.
    senders = set()
    with open(rules_path) as f:
        for line in f:
            kind, value = line.rstrip("\n").split("\t", 1)
            if kind == "sender":
                senders.add(value)
    for digest, m in inbox.items():
        if m["from"] in senders:
            faults.append(f"INBOX UID {m['uid']} from the ruled sender {m['from']} was not filed")
    if not any(m["from"] == "kim@peer.varnox.test" for m in spam.values()):
        faults.append("the message with the rule's words was not filed")
    seen_spam = [m for m in spam.values() if "\\Seen" in m["flags"]]
    unseen_spam = [m for m in spam.values() if "\\Seen" not in m["flags"]]
    if not seen_spam or not unseen_spam:
        faults.append(f"the filed messages were not a mix of read ({len(seen_spam)}) "
                      f"and unread ({len(unseen_spam)}): the flag check proves nothing")
    for line in faults[:20]:
        print(f"== dovecot:   {line}", file=sys.stderr)
    if faults:
        fail(f"{len(faults)} difference{'s' if len(faults) != 1 else ''} after the scan")
    print(f"== dovecot: {len(inbox)} in INBOX, {len(spam)} in {SPAM_BOX} "
          f"({len(seen_spam)} of them read), {len(rows)} log rows, all as logged; "
          "flags, dates and bodies unchanged")


def same(first_path, second_path, rows_path, db):
    if load(first_path) != load(second_path):
        fail("the second scan changed the mailbox (UIDs, flags, dates or bodies)")
    # Through JSON, as verify saved them: tuples come back as lists.
    if json.loads(json.dumps(log_rows(db))) != load(rows_path):
        fail("the second scan changed the log")
    print("== dovecot: the second scan left mailbox and log as they were")


if __name__ == "__main__":
    commands = {"prepare": prepare, "append": append, "mark": mark, "snapshot": snapshot,
                "verify": verify, "same": same}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        fail(f"usage: {sys.argv[0]} {'|'.join(commands)} ARGS...")
    try:
        commands[sys.argv[1]](*sys.argv[2:])
    except (imaplib.IMAP4.error, OSError, sqlite3.Error) as e:
        fail(f"{sys.argv[1]}: {e}")
