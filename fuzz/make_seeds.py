#!/usr/bin/env python3
"""Writes the seed corpora of fuzz/corpus from the sample tuning files and a few hand-made
shapes (valid, truncated, broken by one rule each). Run from the repository root; the
corpora are checked in, so this only needs running when the seeds should change."""
import os
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
SAMPLES = os.path.join(ROOT, "examples", "platform", "CSV")


def put(name, seed, data):
    d = os.path.join(CORPUS, name)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, seed), "wb") as f:
        f.write(data)


SMALL = (b"VERSION,CABLE TYPE,VENDOR,,,,,\n1.0,DAC_1M,GENERIC,,,,,\n"
         b",,,SPEED,ENCODING,,SPEED,ENCODING\n,,,25G/100G,NRZ,,50G/400G,PAM4\n"
         b"INDEX,FRONT PORT,LANE,TX_EQ_PRE1,TX_EQ_POST,RX_CTLE_LF,TX_EQ_PRE1,TX_EQ_POST\n"
         b"1,0,0,-4,-8,3,-2,-6\n2,0,1,-5,-9,4,-3,-7\n,,,,,,,\n3,1,0,-6,-10,5,-4,-8\n")


def tuning_seeds():
    seeds = {"small": SMALL}
    for name in sorted(os.listdir(SAMPLES)):
        with open(os.path.join(SAMPLES, name), "rb") as f:
            lines = f.read().split(b"\n")
        seeds["sample-" + name] = b"\n".join(lines[:24]) + b"\n"
        seeds["cut-" + name] = b"\n".join(lines[:7])[:-9]
    lines = SMALL.split(b"\n")
    broken = {
        "empty-cell": lines[:6] + [b"2,0,1,-5,,4,-3,-7"] + lines[7:],
        "blank-end": lines + [b""],
        "long-cell": lines[:6] + [b"2,0,1," + b"9" * 81 + b",-9,4,-3,-7"] + lines[7:],
        "duplicate-lane": lines[:6] + [b"2,0,0,-5,-9,4,-3,-7"] + lines[7:],
        "bad-name": lines[:4] + [lines[4].replace(b"RX_CTLE_LF", b"NUM_LANES")] + lines[5:],
        "lower-bom": [b"\xef\xbb\xbf" + lines[0].lower()] + [l.lower() for l in lines[1:]],
        "one-group-end": lines[:2] + [b",,,SPEED,ENCODING,,SPEED,"] + lines[3:],
        "many-lanes": lines[:5] + [b"%d,7,%d,1,2,3,4,5" % (i, i) for i in range(40)] + [b""],
        "many-ports": lines[:5] + [b"%d,%d,0,1,2,3,4,5" % (i, i) for i in range(40)] + [b""],
    }
    for k, v in broken.items():
        seeds[k] = b"\n".join(v)
    # Cells padded with blanks to their 80 characters: lines longer than the fuzz build's
    # line buffer, with CR LF ends that its end may split.
    padded = [b",".join(c.center(80) for c in l.split(b",")) if i >= 4 else l
              for i, l in enumerate(lines)]
    seeds["padded-cells"] = b"\r\n".join(padded)
    seeds["cr-only"] = SMALL.replace(b"\n", b"\r")
    seeds["crlf"] = SMALL.replace(b"\n", b"\r\n")
    seeds["two-files"] = SMALL + b"=====\n" + SMALL.replace(b"DAC_1M", b"OPTICS")
    seeds["two-files-clash"] = SMALL + b"=====\n" + SMALL
    return seeds


def main():
    tuning = tuning_seeds()
    for k, v in tuning.items():
        put("tuning_load", k, v)
        # The allocation to fail comes first: early, middle and late in a small load.
        for fail_at in (3, 40, 200):
            put("tuning_load_alloc", "%s-%d" % (k, fail_at), struct.pack("<H", fail_at) + v)
    for k, v in tuning.items():
        for line_no, line in enumerate(v.split(b"\n")[:6]):
            put("tokenizer", "%s-%d" % (k, line_no), bytes([line.count(b",") + 1]) + line)
    put("tokenizer", "spaces", b"\x04 \t a , B\v,\f,c ")
    put("tokenizer", "long", b"\x02" + b"x" * 81 + b"," + b"y" * 80)

    keys = {"AN": 0, "AN_ABILITY": 1, "LANE": 7, "LINK_TRAINING": 8, "RX_AGC_TARGET": 16,
            "RX_CTLE_BW": 17, "RX_EQ_COARSE_TUNE_EFFORT_25G": 20, "SD_RESET_25G": 28,
            "SD_RESET_THRESHOLD": 29, "TX_EQ_ATTN": 32, "TX_EQ_POST": 34, "TX_EQ_PRE1": 37}

    def rows(items):
        out = b""
        for key, text in items:
            k = keys[key] if isinstance(key, str) else key
            out += struct.pack("<I", k) + text.encode().ljust(24, b"\0")[:24]
        return out

    translate = {
        "breakout": bytes([3, 4, 6]) + rows([("LANE", "4"), ("TX_EQ_PRE1", "-2"), ("AN", "1"),
                                              ("LANE", "5"), ("TX_EQ_PRE1", "-3"), ("AN", "0"),
                                              ("LANE", "6"), ("TX_EQ_PRE1", "0"), ("LANE", "7"),
                                              ("TX_EQ_PRE1", "5")]),
        "every-kind": bytes([1, 0, 12]) + rows(
            [("LANE", "0"), ("AN_ABILITY", "12"), ("RX_AGC_TARGET", "-1"), ("RX_CTLE_BW", "300"),
             ("RX_EQ_COARSE_TUNE_EFFORT_25G", "MEDIUM"), ("SD_RESET_25G", "TRUE"),
             ("SD_RESET_THRESHOLD", "9"), ("TX_EQ_ATTN", "-4"), ("TX_EQ_POST", "3"),
             ("LANE", "1"), ("RX_AGC_TARGET", "7"), ("TX_EQ_ATTN", "-5")]),
        "odd-keys": bytes([7, 0, 4]) + rows([(97, "1"), (0xFFFFFFFF, "2"), (40, "3"),
                                             ("TX_EQ_PRE1", "1"), ("LANE", "9"), ("TX_EQ_PRE1", "2"),
                                             ("LANE", "-1"), ("AN", "1")]),
        "unterminated": bytes([0, 0, 2]) + struct.pack("<I", 0) + b"1" * 24,
    }
    for k, v in translate.items():
        put("translate", k, v)
        for fail_at in (0, 1, 2):
            put("translate_alloc", "%s-%d" % (k, fail_at), bytes([fail_at]) + v)

    def cmis(media_type=0x01, length=0, app=None, staged=None):
        img = bytearray(16 * 128 + 256)
        img[0] = 0x18
        img[85] = media_type
        img[202] = length
        for code, (host_if, media_if, host, media) in (app or {1: (0x11, 0x0F, 8, 8)}).items():
            base = 86 + 4 * (code - 1)
            img[base:base + 4] = bytes([host_if, media_if, host << 4 | media, 0x01])
        for lane, (sel, dp) in enumerate(staged or [(1, 0)] * 8):
            img[16 * 128 + 145 + lane] = sel << 4 | dp << 1
        return bytes(img)

    put("eeprom_decode", "cmis-optic", cmis())
    put("eeprom_decode", "cmis-dac-1m", cmis(media_type=0x03, length=0x41))
    put("eeprom_decode", "cmis-dac-3m", cmis(media_type=0x03, length=0x43))
    put("eeprom_decode", "cmis-4x2", cmis(app={1: (0x11, 0x0F, 8, 8), 2: (0x0D, 0x0B, 2, 2)},
                                          staged=[(2, l & ~1) for l in range(8)]))
    put("eeprom_decode", "cmis-2x4", cmis(app={1: (0x11, 0x0F, 8, 8), 2: (0x0B, 0x0A, 4, 4)},
                                          staged=[(2, l & ~3) for l in range(8)]))
    put("eeprom_decode", "cmis-short", cmis()[:300])
    qsfp = bytearray(256)
    qsfp[0], qsfp[146], qsfp[147] = 0x11, 3, 0xA0
    put("eeprom_decode", "qsfp28-dac-3m", bytes(qsfp))
    sfp = bytearray(256)
    sfp[0], sfp[2] = 0x03, 0x22
    put("eeprom_decode", "sfp-rj45", bytes(sfp))


main()
