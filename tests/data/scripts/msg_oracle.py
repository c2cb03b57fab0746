# Checks .msg files written from Internet messages against the messages themselves, with readers
# that are not ours: olefile for the compound file and its property streams, Python's email for
# what the Internet message holds. Arguments: pairs of SOURCE MSG. Prints one line per problem,
# "OK n" when there is none.
import email
import email.errors
import email.header
import email.policy
import email.utils
import struct
import sys

import olefile

problems = []


def problem(where, text):
    problems.append("%s: %s" % (where, text))


def header_text(value):
    if value is None:
        return ""
    return str(email.header.make_header(email.header.decode_header(str(value))))


def addresses(message, field):
    return sorted(a.lower() for _, a in email.utils.getaddresses(message.get_all(field, []))
                  if "@" in a)


def lines(data):
    """Text with its line ends as LF and without blank lines at either end: a reader may store a
    text part with CR LF, a file with the line ends of its own."""
    return data.replace(b"\r\n", b"\n").strip(b"\r\n")


def leaves(message):
    """The decoded content of every part that is no container, and the files among them."""
    contents, files = [], []
    for part in message.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True)
        if payload is None:
            continue
        contents.append(lines(payload))
        if part.get_content_disposition() == "attachment" and part.get_filename():
            files.append((part.get_filename(), payload))
    return contents, files


TNEF_SIGNATURE = b"\x78\x9f\x3e\x22"


def read_unicode(ole, path):
    return ole.openstream(path).read().decode("utf-16-le") if ole.exists(path) else None


def check_property_stream(ole, where, storage, header):
    path = (storage + "/" if storage else "") + "__properties_version1.0"
    if not ole.exists(path):
        problem(where, "no property stream in /" + storage)
        return {}
    data = ole.openstream(path).read()
    if len(data) < header or (len(data) - header) % 16:
        problem(where, "property stream of /%s has %d bytes for a %d-byte header" %
                (storage, len(data), header))
        return {}
    entries = {}
    for at in range(header, len(data), 16):
        ptype, pid, _flags = struct.unpack_from("<HHI", data, at)
        entries[pid] = (ptype, data[at + 8:at + 16])
    # Every string and binary stream of the storage is declared with its size.
    prefix = (storage + "/" if storage else "")
    for entry in ole.listdir(streams=True, storages=False):
        name = "/".join(entry)
        if not name.startswith(prefix) or "/" in name[len(prefix):]:
            continue
        leaf = name[len(prefix):]
        if not leaf.startswith("__substg1.0_") or len(leaf) != 20:
            continue
        pid, ptype = int(leaf[12:16], 16), int(leaf[16:20], 16)
        if ptype == 0x001E:
            problem(where, "8-bit string stream " + name)
        declared = entries.get(pid)
        if declared is None or declared[0] != ptype:
            problem(where, "stream %s not declared in its property stream" % name)
            continue
        size = struct.unpack_from("<I", declared[1])[0]
        expected = ole.get_size(name) + (2 if ptype == 0x001F else 0)
        if size != expected:
            problem(where, "%s declared with %d bytes, holds %d" % (name, size, expected))
    return entries


def check_message(ole, where, storage, header):
    entries = check_property_stream(ole, where, storage, header)
    prefix = (storage + "/" if storage else "")
    attachments = []
    for entry in ole.listdir(streams=False, storages=True):
        name = "/".join(entry)
        if not name.startswith(prefix) or "/" in name[len(prefix):]:
            continue
        leaf = name[len(prefix):]
        if leaf.startswith("__recip_version1.0_#"):
            check_property_stream(ole, where, name, 8)
        elif leaf.startswith("__attach_version1.0_#"):
            check_property_stream(ole, where, name, 8)
            attachments.append(name)
    return entries, attachments


def check(source, target):
    where = source.rsplit("/", 1)[-1]
    with open(source, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.compat32)
    ole = olefile.OleFileIO(target)
    entries, attachments = check_message(ole, where, "", 32)
    # A header block that Python's parser cannot end (a folded line without its blank) leaves it
    # nothing to compare the content with.
    content = not any(isinstance(d, email.errors.MissingHeaderBodySeparatorDefect)
                      for d in message.defects)
    names = ["__nameid_version1.0/__substg1.0_0002%04X" % 0x0102,
             "__nameid_version1.0/__substg1.0_0003%04X" % 0x0102,
             "__nameid_version1.0/__substg1.0_0004%04X" % 0x0102]
    for name in names:
        if not ole.exists(name):
            problem(where, "named-property map lacks " + name)

    subject = read_unicode(ole, "__substg1.0_0037001F") or ""
    expected = " ".join(header_text(message["Subject"]).split())
    got = " ".join(subject.split())
    # Where Python ended the header block early, the subject it read may end early too.
    same = got == expected or (not content and got.startswith(expected))
    if not same and "\ufffd" not in expected:
        problem(where, "subject %r, the message has %r" % (subject, expected))

    sender = (read_unicode(ole, "__substg1.0_5D01001F") or "").lower()
    want = addresses(message, "From")
    if want and sender not in want:
        problem(where, "sender %r, the message has %r" % (sender, want))

    for field, kind in (("To", 1), ("Cc", 2)) if content else ():
        got = []
        for entry in ole.listdir(streams=False, storages=True):
            name = "/".join(entry)
            if not name.startswith("__recip_version1.0_#") or "/" in name:
                continue
            data = ole.openstream(name + "/__properties_version1.0").read()
            for at in range(8, len(data), 16):
                ptype, pid = struct.unpack_from("<HH", data, at)
                if pid == 0x0C15 and struct.unpack_from("<I", data, at + 8)[0] == kind:
                    got.append((read_unicode(ole, name + "/__substg1.0_39FE001F") or "").lower())
        got = [a for a in got if a]
        if sorted(got) != addresses(message, field):
            problem(where, "%s recipients %r, the message has %r" %
                    (field, sorted(got), addresses(message, field)))

    contents, files = leaves(message)
    # A TNEF stream (winmail.dat) is unpacked: the .msg holds the files it carries, whose bytes
    # stand in the stream as they are, instead of the stream itself.
    tnef = [d for _, d in files if d.startswith(TNEF_SIGNATURE)]
    files = [(n, d) for n, d in files if not d.startswith(TNEF_SIGNATURE)]
    held = []
    for name in attachments:
        if ole.exists(name + "/__substg1.0_3701000D"):
            continue  # an attached message, as a message of its own
        data = ole.openstream(name + "/__substg1.0_37010102").read() \
            if ole.exists(name + "/__substg1.0_37010102") else b""
        long_name = read_unicode(ole, name + "/__substg1.0_3707001F") or ""
        held.append((long_name, data))
        mime = read_unicode(ole, name + "/__substg1.0_370E001F") or ""
        # Python reads message/* parts as messages, not as the bytes they are.
        if content and data and lines(data) not in contents and not mime.startswith("message/") \
                and not any(data in stream for stream in tnef):
            problem(where, "attachment %r (%d bytes) is no part of the message" %
                    (long_name, len(data)))
    # The fragment of a message/partial is no file until its fragments are joined.
    for file_name, payload in files if message.get_content_type() != "message/partial" else ():
        name = header_text(file_name)
        if not any(n == name and d == payload for n, d in held):
            problem(where, "file %r (%d bytes) is not among the attachments" % (name, len(payload)))
    ole.close()


args = sys.argv[1:]
for i in range(0, len(args), 2):
    try:
        check(args[i], args[i + 1])
    except Exception as e:  # a file that a reader refuses is a problem like any other
        problem(args[i], "%s: %s" % (type(e).__name__, e))
for p in problems:
    print(p)
if not problems:
    print("OK %d" % (len(args) // 2))
