#!/usr/bin/env python3
"""Writes the hostile-input corpus: reports and pictures made to cost a
reader as much as possible, or to make it act on files it must not touch.

    make_cases.py OUT

Every case is a folder OUT/<name>/ holding the report (REPORT.TXT unless the
case says otherwise), the files it names, and case.json:

    report    the report's name in the folder
    modes     the runs to make: count, png, pdf (the command line), filter
              (the CUPS filter, on the report as a spooled job)
    allow     per mode, the files of the folder a run may delete
    fifos     names to make as FIFOs when the case is run
    links     name -> target: symbolic links to make when the case is run
              (a target may start with @OUTSIDE@, the folder beside it that
              no run may touch, or be @WORK@, the report's folder; a name
              starting with @OUTSIDE@/ is made there)
    limit_mb  the memory one run may take (default: the runner's)
    seconds   the time one run may take (default: the runner's)
    why       what the case tries
and, where a case needs them:
    args              more command-line arguments of the count, png and pdf runs
    filter_options    the filter's options argument (default empty)
    env               more environment of every run (@WORK@, @OUTSIDE@ and
                      @CWD@ in a value are the run's folders)
    output_name       the output's name in the png and pdf runs (default
                      out.png, out.pdf)
    pdf_images        the exact number of pictures in the PDF of a pdf or
                      filter run
    same_pdf_without  files of the case (names as in files/, e.g.
                      @OUTSIDE@/X.BMP): the pdf or filter run is made again
                      without them and must make the same PDF bytes
    max_output_mb     the PDF or PNG made must be smaller
    max_stderr_lines  the most lines a run may write on stderr
    stdin_mb          the report comes on standard input ("-"), repeated to
                      this many megabytes or until the program stops reading
    stranger_output_link  a user id: the output's name is a symbolic link
                      owned by that user, in a sticky folder anybody may
                      write, to a file outside (made as root only)
    must_fail         every run of the case must refuse (a non-zero exit)

In a report of at most 1 MB, @WORK@, @OUTSIDE@ and @CWD@ are the run's
folders. The files of a case starting with @OUTSIDE@/ or @CWD@/ go there.

The small hand-written reports in inputs/ become cases of their own. The large
cases are made here rather than kept: the biggest are tens of megabytes.
"""
import json
import os
import random
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SEEDS = os.path.join(HERE, "..", "fuzz", "seeds", "pictures")


def seed(name):
    """A picture from the fuzz seeds, without the options byte before it."""
    with open(os.path.join(SEEDS, name), "rb") as f:
        return f.read()[1:]


# ---- pictures ---------------------------------------------------------------

def bmp(width, height, bpp, compression, pixels, palette=None, header_height=None):
    palette = palette if palette is not None else [(i, i, i) for i in range(1 << bpp)] if bpp <= 8 else []
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height if header_height is None else header_height, 1, bpp,
                       compression, len(pixels), 2835, 2835, len(palette), 0)
    offset = 14 + 40 + len(table)
    return struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) + info + table + pixels


def rle_delta_wrap(rle4=False, deltas=16_800_000, step=128):
    """Deltas that carry the column of a 16 x 16 run-length picture past the
    largest integer, then a run: the run was written in front of the pixels."""
    pixels = bytes([0, 2, step, 0]) * deltas + b"\x10\x07" * 8 + b"\x00\x01"
    return bmp(16, 16, 4 if rle4 else 8, 2 if rle4 else 1, pixels)


def rle_declaring(width, height, runs=40):
    """A small run-length picture whose header declares width x height."""
    pixels = (b"\xff\x07" * runs + b"\x00\x00") * 10 + b"\x00\x01"
    return bmp(width, height, 8, 1, pixels)


def gif_declaring(width, height):
    """A GIF of a few dozen bytes whose screen and frame declare width x height."""
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80, 0, 0) + b"\x00\x00\x00\xff\xff\xff" +
            b"," + struct.pack("<HHHHB", 0, 0, width, height, 0) + b"\x02\x02\x44\x01\x00;")


def jpeg_declaring(base, width, height):
    """A JPEG whose frame header declares width x height over the data of a
    small picture."""
    data = bytearray(base)
    for i in range(2, len(data) - 9):
        if data[i] == 0xFF and data[i + 1] in (0xC0, 0xC1, 0xC2):
            data[i + 5:i + 9] = struct.pack(">HH", height, width)
            break
    return bytes(data)


def inline(data, attributes="", tag="IMG"):
    return b"{" + tag.encode() + b" " + attributes.encode() + b" DATALEN=" + str(len(data)).encode() + \
        b' DATA="' + data + b'"}'


# ---- cases ------------------------------------------------------------------

CASES = {}


# What a case may ask beyond its files and limits (see above).
OPTIONAL = ("args", "filter_options", "env", "output_name", "pdf_images", "same_pdf_without", "max_output_mb",
            "max_stderr_lines", "stdin_mb", "stranger_output_link", "must_fail")


def case(name, report, files=None, modes=("count", "png", "pdf"), report_name="REPORT.TXT", allow=None,
         fifos=(), links=None, limit_mb=None, seconds=None, why="", **optional):
    unknown = set(optional) - set(OPTIONAL)
    if unknown:
        raise TypeError("case %s: no such field %s" % (name, ", ".join(sorted(unknown))))
    CASES[name] = dict(report=report, files=files or {}, modes=list(modes), report_name=report_name,
                       allow=allow or {}, fifos=list(fifos), links=links or {}, limit_mb=limit_mb,
                       seconds=seconds, why=why, optional=optional)


def make():
    small_gif = seed("gif-plain")
    small_bmp = seed("bmp-8bit")
    small_jpeg = seed("jpeg-baseline")

    # Decoders.
    case("rle8-delta-wrap-file", b"{IMAGE SRC=WRAP.BMP}\r\nAfter\r\n", {"WRAP.BMP": rle_delta_wrap()},
         why="16.8 million run-length deltas wrap the column: heap corruption before")
    case("rle8-delta-wrap-inline", inline(rle_delta_wrap(deltas=8_500_000, step=255)) + b"After\r\n",
         why="the same carried in-line")
    case("rle4-delta-wrap-file", b"{IMAGE SRC=WRAP.BMP}\r\n", {"WRAP.BMP": rle_delta_wrap(rle4=True, deltas=8_500_000, step=255)},
         why="the same in a four-bit picture")
    case("bmp-rle-1kb-declaring-10000-square-10-times", b"{IMAGE SRC=HUGE.BMP}\r\n" * 10,
         {"HUGE.BMP": rle_declaring(10000, 10000)}, why="794 MB and 3 s per reference before")
    case("gif-49-bytes-declaring-10000-square-10-times", b"{IMAGE SRC=HUGE.GIF}\r\n" * 10,
         {"HUGE.GIF": gif_declaring(10000, 10000)}, why="794 MB and 3 s per reference before")
    case("bmp24-declaring-10000-square-without-its-pixels", b"{IMAGE SRC=BIG.BMP WIDTH=1in HEIGHT=1in}\r\n",
         {"BIG.BMP": bmp(10000, 10000, 24, 0, b"\x80" * 1024)})
    case("jpeg-progressive-declaring-9000-square", b"{IMAGE SRC=P.JPG}\r\n" * 4,
         {"P.JPG": jpeg_declaring(seed("jpeg-progressive"), 9000, 9000)},
         why="a progressive picture keeps every coefficient while it decodes")
    case("jpeg-baseline-declaring-10000-square", b"{IMAGE SRC=B.JPG WIDTH=2in}\r\n" * 4,
         {"B.JPG": jpeg_declaring(small_jpeg, 10000, 10000)})
    case("jpeg-declaring-65000-square", b"{IMAGE SRC=B.JPG}\r\n", {"B.JPG": jpeg_declaring(small_jpeg, 65000, 65000)})
    case("picture-file-of-48-mb-named-100-times", b"{IMAGE SRC=BIG.BMP WIDTH=1in HEIGHT=1in}\r\n" * 100,
         {"BIG.BMP": bmp(4000, 4000, 24, 0, bytes(4000 * 4000 * 3))},
         why="every name read and decoded the whole file again")
    # The same bombs carried in-line, each a different picture (no two alike,
    # so that none is decoded once for all).
    case("inline-bombs-each-different",
         b"".join(inline(rle_declaring(10000 - i, 10000)) + inline(gif_declaring(10000 - i, 10000)) +
                  inline(jpeg_declaring(small_jpeg, 10000 - i, 10000), "WIDTH=2in") + b"\r\n" for i in range(10)))
    case("bmp-rle-declaring-16-megapixels-40-times-in-line",
         b"".join(inline(rle_declaring(4000, 4000 - i), "WIDTH=1in HEIGHT=1in") + b"\r\n" for i in range(40)),
         modes=("count",), why="each decoded whole: the pass's allowance stops them")
    gif_frame = bytearray(small_gif)
    gif_frame[0x17:0x1B] = struct.pack("<HH", 60000, 60000)  # the first frame's place
    case("gif-frame-far-off-its-screen", b"{IMAGE SRC=F.GIF}\r\n", {"F.GIF": bytes(gif_frame)})

    # Pictures in a report.
    six = b"GIF89a"
    case("inline-50000-pictures-on-one-line", b"".join(inline(six) for _ in range(50_000)) + b"\r\n{PAGE}Two\r\n",
         why="8.7 GB after 41 s before: each picture copied the rest of the line")
    case("inline-20000-pictures-on-a-page-not-drawn",
         b"".join(inline(six) for _ in range(20_000)) + b"\r\n{PAGE}Two\r\n{PAGE}Three\r\n",
         why="the pages before the one drawn step over the data")
    lengths = [b"{IMG DATALEN=99999999999 DATA=\"x\"}", b"{IMG DATALEN=-7 DATA=\"xy\"}", b"{IMG DATALEN=0 DATA=\"\"}",
               b"{IMG DATALEN=12x DATA=\"abc\"}", b"{IMG DATALEN=2147483647 DATA=\"", b"{IMAGE DATALEN=3 DATA=\"GIF\"}",
               b"{IMG DATA=\"abc\" DATALEN=3}", inline(small_bmp[:40]), inline(small_jpeg[:300])]
    case("inline-lengths-that-lie", b"\r\n".join(lengths * 50) + b"\r\n")
    case("inline-pictures-decoded-once-each", b"".join(inline(small_bmp, "LEFT=%din" % (i % 7)) + b"\r\n" for i in range(3000)),
         why="3,000 copies of one picture")
    geometry = [b"{IMAGE SRC=S.BMP WIDTH=1000000in HEIGHT=1000000in}", b"{IMAGE SRC=S.BMP WIDTH=-3in HEIGHT=-2in}",
                b"{IMAGE SRC=S.BMP SCALE=2147483647%}", b"{IMAGE SRC=S.BMP AT=-99999999in,99999999in}",
                b"{IMAGE SRC=S.BMP LEFT=1e308in TOP=-1e308in}", b"{IMAGE SRC=S.BMP WIDTH=0 HEIGHT=0 ISO}",
                b"{IMAGE SRC=S.BMP WIDTH=1in ISO HEIGHT=0.0000001in}", b"{IMAGE SRC=HUGE.BMP WIDTH=1000in HEIGHT=1000in}",
                b"{IMAGE SRC=HUGE.BMP LEFT=-50in TOP=-50in WIDTH=100in HEIGHT=100in}"]
    case("picture-geometry", b"\r\n".join(geometry) + b"\r\n", {"S.BMP": small_bmp, "HUGE.BMP": rle_declaring(10000, 10000)})

    # Text and tags.
    case("roman-page-numbers-of-two-billion", b"{FIELD CODE=PAGE START=2000000000 STYLE=ROMAN}\r\n" * 200,
         why="49 s and 561 MB before")
    case("roman-page-numbers-just-below-a-million", b"{FIELD CODE=PAGE START=999999 STYLE=ROMAN}" * 20000 + b"\r\n",
         why="a thousand letters from each 45-byte tag")
    unclosed = bytearray(b"Start\r\n{")
    line = b"a line inside a tag that never closes\r\n"
    unclosed += line * (100_000_000 // len(line))
    # All its lines fall on one page, whose PDF content is held until the
    # page ends: 150 MB for this one.
    case("unclosed-brace-in-100-mb", bytes(unclosed), modes=("pdf",), seconds=600, limit_mb=384,
         why="615 MB for 200 MB before: the whole rest became one tag")
    case("one-line-of-100-mb", b"x" * 100_000_000, modes=("pdf",), seconds=600,
         why="810 MB before: the line was held whole, and copied")
    case("one-line-of-8-mb-counted", b"y" * 8_000_000, modes=("count", "png"))
    moves = [b"{GOTO X=100000in}far", b"{GOTO Y=-200000in}far", b"{GOBY X=1e300in Y=1e300in}far", b"{GOTO X=NaNin}nan",
             b"{LINE FROM=0,0 TO=1e12in,1e12in}", b"{RECT FROM=-1e9in,-1e9in TO=1e9in,1e9in}",
             b"{CIRCLE R=1e9in}", b"{FONT SIZE=2147483647}big{/FONT}", b"{FONT SIZE=-2147483648}neg{/FONT}",
             b"{LPI=0.000001}", b"{LPP=2147483647}", b"{CPI=0}", b"{PEN WIDTH=2147483647}{LINE TO=1in,1in}",
             b"{SPAN LEFT=1e9in RIGHT=-1e9in}x{/SPAN}", b"{POLYGON POINTS=" + b"1in,1in " * 20000 + b"}"]
    case("positions-beyond-any-page", b"\r\n".join(moves) + b"\r\nLast\r\n{PAGE}Second page\r\n",
         why="{GOTO X=100000in} destroyed an earlier PDF before")
    case("spans-and-fonts-nested-too-deep",
         b"{SPAN}" * 10000 + b"{FONT SIZE=9}" * 100000 + b"x" + b"{/FONT}" * 100000 + b"{/SPAN}" * 10000 + b"\r\n")
    case("twenty-thousand-pages", b"{PAGE}" * 20000 + b"end\r\n", seconds=600)
    case("form-feeds-and-box-drawing", (b"\f" * 5000) + (b"\xc4\xb3\xda\xbf" * 100000) + b"\r\n")
    # text written on Linux: tabs, overstrike, escapes, UTF-8
    case("one-line-of-10-mb-of-tabs", b"\t" * 10_000_000 + b"x\n")
    case("centred-line-of-10-mb-of-tabs", b"{ALIGN=CENTER}\r\n" + b"\t" * 10_000_000 + b"x\r\n")
    case("overstrike-and-escapes", (b"\x08" * 1000 + b"a\x08a_\x08b\x1b[1;38;5;300;38;2;999;999m" * 50000) +
         b"\n\x1b[" + b"9" * 100000 + b"\n\x1b")
    case("byte-order-mark-alone", b"\xef\xbb\xbf")
    case("invalid-utf-8-after-a-byte-order-mark", b"\xef\xbb\xbf" + b"caf\xe9 \xff\xfe\xc3 \xe2\x94\n" * 20000)
    case("utf-8-box-drawing-and-entities", "\u2554\u2550\u2557\u2591\u2588&#937;&#1114112;\u00e9".encode() * 50000 + b"\n")
    case("entities", b"&#65535;&#99999999999;&#-1;&amp&;" * 20000 + b"&" + b"a" * 1_000_000 + b";\r\n")
    case("header-values-out-of-range",
         b"{INIT PAPERSIZE=99999 ORIENTATION=SIDEWAYS TRAY=-2147483648 CPI10=2147483647 VERSION=999}\r\n" +
         b"{PAPERSIZE=0}{TRAY=99999999999}{LANDSCAPE}{MONO}\r\nText\r\n")
    rng = random.Random(20261207)
    for n in range(3):
        case("random-bytes-%d" % n, bytes(rng.getrandbits(8) for _ in range(300_000)))
    words = ["{", "}", "=", "\"", "\r", "\n", "\f", "{IMG ", "{IMAGE ", "DATA=\"", "DATALEN=", "DATALEN=5 ", "{PAGE}",
             "{SPAN ", "{/SPAN}", "{FONT ", "{/FONT}", "&#", "x", " ", "{GOTO X=", "{LINE ", "{FIELD CODE=PAGE ",
             "STYLE=ROMAN ", "START=", "99999999", "-1", "in", "{HEADER REPEAT=Y}", "{/HEADER}", "{CPI17}", "{LPI=",
             "\xc4", "\xb3", "{B}", "{/B}", "{ALIGN=RIGHT}", "SRC=LOGO.BMP ", "DELETE=YES ", "}"]
    for n in range(5):
        case("random-markup-%d" % n, "".join(rng.choice(words) for _ in range(100_000)).encode("latin-1"),
             files={"LOGO.BMP": small_bmp}, allow={"pdf": ["LOGO.BMP"]})

    # Files the report is, or names for deletion.
    case("report-is-a-fifo", b"", fifos=["REPORT.TXT"], why="hung in open() before")
    case("picture-is-a-fifo", b"{IMAGE SRC=PIPE.BMP}\r\nAfter\r\n", fifos=["PIPE.BMP"])
    case("report-is-a-folder", b"", links={"REPORT.TXT": "sub"}, files={"sub/x": b"x"})
    victim = small_bmp
    deletions = [b"{IMAGE SRC=../outside/VICTIM.BMP DELETE=YES}", b"{IMAGE SRC=@OUTSIDE@/VICTIM.BMP DELETE=YES}",
                 b"{IMAGE SRC=LINKED/VICTIM.BMP DELETE=YES}", b"{IMAGE SRC=REPORT.TXT DELETE=YES}",
                 b"{IMAGE SRC=NOTES.TXT DELETE=YES}", b"{IMAGE SRC=dup.bmp DELETE=YES}",
                 b"{IMAGE SRC=SUB/../../outside/VICTIM.BMP DELETE=YES}", b"{IMAGE SRC=POINTER.BMP DELETE=YES}",
                 b"{IMAGE SRC=LOGO.BMP DELETE=YES}"]
    case("delete-yes-reaching-outside", b"\r\n".join(deletions) + b"\r\n",
         files={"NOTES.TXT": b"not a picture", "dup.bmp": victim, "Dup.bmp": victim, "LOGO.BMP": victim,
                "SUB/keep": b"k", "@OUTSIDE@/VICTIM.BMP": victim},
         links={"LINKED": "@OUTSIDE@", "POINTER.BMP": "@OUTSIDE@/VICTIM.BMP"},
         allow={"pdf": ["dup.bmp", "LOGO.BMP"]},
         why="deleted files by absolute path, through ../ and links, the report, non-pictures, the wrong spelling")

    # The CUPS filter: a job is a stranger's. It reads no file of the server
    # but pictures in the folder the administrator names, the PDF is the same
    # whether what it names exists or not, and it deletes nothing. Its report
    # is a spooled job's file (d00042-001) beside other jobs' files.
    spooled = dict(modes=("filter",), report_name="d00042-001", pdf_images=0)
    case("filter-another-jobs-picture-beside-the-report",
         b"{IMAGE SRC=d00041-001 FORMAT=JPEG}\r\n{IMAGE SRC=./d00041-001 FORMAT=JPEG DELETE=YES}\r\n"
         b"{IMAGE SRC=D00041-002 FORMAT=BMP}\r\n{IMAGE SRC=d00041-002 DELETE=YES}\r\nEnd\r\n",
         {"d00041-001": small_jpeg, "d00041-002": small_bmp}, same_pdf_without=["d00041-001", "d00041-002"],
         why="a job drew another job's spooled pictures (and told whether they exist)", **spooled)
    case("filter-picture-by-absolute-path",
         b"{IMAGE SRC=@WORK@/d00041-001 FORMAT=JPEG DELETE=YES}\r\n{IMAGE SRC=@OUTSIDE@/VICTIM.BMP DELETE=YES}\r\n"
         b"{IMAGE SRC=@OUTSIDE@/pictures/LOGO.BMP}\r\nEnd\r\n",
         {"d00041-001": small_jpeg, "@OUTSIDE@/VICTIM.BMP": small_bmp, "@OUTSIDE@/pictures/LOGO.BMP": small_bmp},
         env={"QUILLARD_PICTURE_FOLDER": "@OUTSIDE@/pictures"},
         same_pdf_without=["d00041-001", "@OUTSIDE@/VICTIM.BMP"],
         why="absolute names, the picture folder's own file among them", **spooled)
    case("filter-picture-through-dot-dot",
         b"{IMAGE SRC=../outside/VICTIM.BMP DELETE=YES}\r\n{IMAGE SRC=SUB/../../outside/VICTIM.BMP}\r\n"
         b"{IMAGE SRC=../work/d00041-001 FORMAT=JPEG}\r\n{IMAGE SRC=SUB/../d00041-001 FORMAT=JPEG}\r\n"
         b"{IMAGE SRC=../outside/VICTIM.BMP}\r\nEnd\r\n",
         {"d00041-001": small_jpeg, "SUB/keep": b"k", "@OUTSIDE@/VICTIM.BMP": small_bmp},
         same_pdf_without=["d00041-001", "@OUTSIDE@/VICTIM.BMP"], **spooled)
    case("filter-picture-through-a-symbolic-link",
         b"{IMAGE SRC=LOGO.BMP DELETE=YES}\r\n{IMAGE SRC=LINKED/VICTIM.BMP DELETE=YES}\r\n"
         b"{IMAGE SRC=PHOTO FORMAT=JPEG}\r\nEnd\r\n",
         {"d00041-001": small_jpeg, "@OUTSIDE@/VICTIM.BMP": small_bmp},
         links={"LOGO.BMP": "@OUTSIDE@/VICTIM.BMP", "LINKED": "@OUTSIDE@", "PHOTO": "d00041-001"},
         same_pdf_without=["d00041-001", "@OUTSIDE@/VICTIM.BMP"], **spooled)
    case("filter-picture-folder",
         b"{IMAGE SRC=LOGO.BMP DELETE=YES}\r\n{IMAGE SRC=OUT.BMP DELETE=YES}\r\n"
         b"{IMAGE SRC=SPOOL/d00041-001 FORMAT=JPEG}\r\n{IMAGE SRC=d00041-001 FORMAT=JPEG}\r\n"
         b"{IMAGE SRC=../SECRET.BMP}\r\n{IMAGE SRC=sub/../../SECRET.BMP}\r\n{IMAGE SRC=@OUTSIDE@/pictures/LOGO.BMP}\r\n"
         b"End\r\n",
         {"@OUTSIDE@/pictures/LOGO.BMP": small_bmp, "@OUTSIDE@/pictures/sub/keep": b"k",
          "@OUTSIDE@/SECRET.BMP": small_bmp, "d00041-001": small_jpeg},
         links={"@OUTSIDE@/pictures/OUT.BMP": "@OUTSIDE@/SECRET.BMP", "@OUTSIDE@/pictures/SPOOL": "@WORK@"},
         env={"QUILLARD_PICTURE_FOLDER": "@OUTSIDE@/pictures"}, modes=("filter",), report_name="d00042-001",
         pdf_images=1, same_pdf_without=["@OUTSIDE@/SECRET.BMP", "d00041-001"],
         why="only LOGO.BMP of the picture folder is drawn, and stays; links out of the folder are not followed")

    # Box drawing: each character cost about 1 KB of memory and 340 bytes of
    # PDF, on the page or off it.
    case("box-drawing-one-line-of-500000-bytes", b"\xcc" * 500_000 + b"\r\n", modes=("pdf", "filter"), limit_mb=100)
    case("box-drawing-2-mb-of-lines-in-cp437", (b"\xcc" * 100 + b"\r\n") * 19_600, modes=("pdf",), limit_mb=100,
         args=["--encoding=cp437"])
    # By the report rules all of it is on one page, most of it off the sheet.
    # (As plain text, the default for such a file, it is 604 full pages: a
    # big document, made in the same memory.)
    case("box-drawing-6-mb-of-utf-8-lines", ("\u2560" * 100 + "\n").encode() * 19_900, modes=("pdf", "filter"),
         limit_mb=100, max_output_mb=20, args=["--markup"], filter_options="plain=false")
    case("box-drawing-2500-lines-below-the-page", (b"\xc4" * 80 + b"\r\n") * 2500, modes=("pdf", "filter"),
         max_output_mb=5, filter_options="media=A4,tray-1 landscape",
         why="one page: all but the first lines fall below it and show nowhere")
    case("box-drawing-page-crammed-at-font-size-1", b"{FONT SIZE=1}" + (b"\xce" * 1100 + b"\r\n") * 900,
         modes=("pdf", "filter"), limit_mb=150, max_output_mb=30,
         why="a million characters on one page, more drawn objects than a page holds")

    # The filter's log: a message said again and again is said once.
    case("filter-log-10000-spans-on-one-line", b"{SPAN}" * 10_000 + b"x\r\n", modes=("filter",),
         max_stderr_lines=20)
    case("filter-log-box-drawing-past-what-a-pdf-expresses",
         b"{GOTO X=99000in}" + b"\xcc" * 20_000 + b"\r\n{CPI=0.01}" + b"\xcc" * 20_000 + b"\r\n{FONT SIZE=1000}" +
         b"\xcc" * 20_000 + b"\r\nLast\r\n", modes=("filter",), max_stderr_lines=20,
         why="thousands of \"Integer overflow\" lines before, one a character")

    case("font-sizes-1-to-10000-on-one-line", b"".join(b"{FONT SIZE=%d}x" % n for n in range(1, 10_001)) + b"\r\n",
         modes=("png", "count", "pdf"), seconds=20, why="each size a font of its own to make and measure")

    # Output names up to the longest a folder holds: the output is made
    # under a name of its own first.
    for length in (250, 255):
        case("output-name-of-%d-bytes" % length, b"Name\r\n{PAGE}Two\r\n", modes=("png", "pdf"),
             output_name="o" * (length - 4) + ".out")

    # Standard input without an end: the copy stops at its limit (1 GiB),
    # fails and leaves nothing in TMPDIR.
    case("standard-input-without-an-end", b"a line of a report read from a pipe\n", modes=("count",),
         stdin_mb=1100, must_fail=True, seconds=300, why="filled the disk before")
    # A link another user planted in /tmp where the output is to go.
    if os.geteuid() == 0:
        case("output-through-a-strangers-link-in-a-sticky-folder", b"Report\r\n", modes=("png", "pdf"),
             stranger_output_link=12345, must_fail=True,
             why="followed where the system's protected_symlinks refuses")


def write(out):
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    make()
    for name in sorted(os.listdir(os.path.join(HERE, "inputs"))):
        with open(os.path.join(HERE, "inputs", name), "rb") as f:
            case("input-" + os.path.splitext(name)[0], f.read(), why="tests/hostile/inputs/" + name)
    for name, c in CASES.items():
        folder = os.path.join(out, name)
        os.makedirs(folder)
        if c["report_name"] not in c["fifos"] and c["report_name"] not in c["links"]:
            with open(os.path.join(folder, c["report_name"]), "wb") as f:
                f.write(c["report"])
        for file, data in c["files"].items():
            path = os.path.join(folder, "files", file)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        meta = {k: c[k] for k in ("modes", "allow", "fifos", "links", "limit_mb", "seconds", "why")}
        meta.update(c["optional"])
        meta["report"] = c["report_name"]
        with open(os.path.join(folder, "case.json"), "w") as f:
            json.dump(meta, f, indent=1)
    print("%d cases in %s" % (len(CASES), out))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    write(sys.argv[1])
