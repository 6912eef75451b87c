#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

    make_seeds.py [path/to/make_corpus.py]

Seeds: small texts of our own that touch every construct the parser knows,
the shared benchmark corpus at scale 0.001 (files under 64 KB), and for
fuzz_query, fuzz_edit and fuzz_cpp operation streams in the byte format those
targets decode. Deterministic: the same bytes on every run.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
MAX_SEED = 64 * 1024

TEXTS = [
    b'<a/>',
    b'<a></a>',
    b'<a>text</a>',
    b'<?xml version="1.0" encoding="UTF-8"?>\n<!-- c -->\n<?pi x?>\n<r a="1" b=\'2\'><c/><d>v</d></r>\n<!-- after -->',
    b'<!DOCTYPE r [<!ELEMENT r ANY><!ATTLIST r a CDATA "x>y">]><r/>',
    b"<!DOCTYPE r [<!ATTLIST r a CDATA 'x>y'>]><r/>",
    b'<r><![CDATA[<&>]]>tail</r>',
    b'<r>a<![CDATA[]]>b</r>',
    b'<r><![CDATA[]]></r>',
    b'<r>&amp;&lt;&gt;&apos;&quot;&#65;&#x41;&#x20AC;&#x1F600;</r>',
    b'<r a="&lt;&#x10FFFF;" b="&#1114111;"/>',
    b'<r>&#X41;</r>',
    b'<r>&#0;</r>',
    b'<r>&nbsp;</r>',
    b'<p:r xmlns:p="u" p:a="1" a="2"><p:c p:x="y"/></p:r>',
    b'<p:r></r>',
    b'<r>\n  <a>  x  </a>\n  <b>\n</b>\n</r>',
    b'<r>   </r>',
    b'<r><!-- only a comment --></r>',
    b'<r>x<!-- c --></r>',
    b'< r >< a / >< / r >',
    b'<r a = "1" ></r >',
    b'<r a="1"b="2"/>',
    b'<r a="1" a="2"/>',
    b'<r><a><b/></a><c/></r>',
    b'<r>x<c/></r>',
    b'<r><c/>x</r>',
    b'<r>>x</r>',
    b'<r>x>y</r>',
    b'<r><a/></r><s/>',
    b'<r><a/>',
    b'<a:/>',
    b'<:a></:a>',
    b'<r><!-- never closed',
    b'<r><![CDATA[never closed',
    b'<?never closed',
    b'<!DOCTYPE r [ never closed',
    b'<r a="never closed/>',
    b'<a><b><c><d><e><f><g>deep</g></f></e></d></c></b></a>',
    b'<r><i>1</i><i>2</i><j/><i>3</i><i>true</i><i>-128</i><i>4294967295</i></r>',
    b'<r>\t<a>\r\n</a></r>',
]

QUERY_DOC = (b'<r a="1" b="true" c="-5" p:d="65535"><i>1</i><i>2</i><x.y>3</x.y>'
             b'<i v="255">300</i><p:n>-2147483648</p:n><e/></r>')


def arg(text):
    """A string argument: kind byte 2 and the text with its NUL; None gives null."""
    if text is None:
        return b'\x00'
    if text == b'':
        return b'\x01'
    return b'\x02' + text + b'\x00'


def query_ops():
    ops = []
    for path in [b'r', b'r.i', b'r.i.2', b'r.i.3', b'.r..i.', b'r.1', b'r.i.0', b'r.i.2.1',
                 b'r.x\\.y', b'r.p:n', b'r.n', b'r.q:n', b'r.i.0000000001', b'r.i.000000001']:
        ops.append(b'\x00\x00\x01' + path + b'\x00\x00')
    ops.append(b'\x00\x00\x00\x05\x01\x00')                  # paths made from the tree: r.p:n
    ops.append(b'\x00\x00\x00\x03\x00')                      # r.x\.y
    for t in range(9):
        ops.append(bytes([1, 2 * (t % 7) + 2, t]))        # typed read of a node value
        ops.append(bytes([2, 0]) + arg(None) + arg(b'a') + bytes([t]))
        ops.append(bytes([3, 2 * t, t]) + bytes([0xff, 0x7f, 0x80, 0x00]))
        ops.append(bytes([4, 0]) + arg(b'') + arg(b'a') + bytes([t, 5, 0, 0, 0]))
    ops.append(b'\x05\x00' + arg(b'p') + arg(b'd'))
    ops.append(b'\x06\x00' + arg(b'') + arg(b'a') + arg(b'new'))
    ops.append(b'\x07\x00' + arg(None) + arg(b'b'))
    ops.append(b'\x08\x00' + b'\x00' + arg(None) + arg(b'a'))
    ops.append(b'\x09\x00')
    ops.append(b'\x0a\x02' + arg(b'a:b') + arg(b'c'))            # a prefix with a colon
    ops.append(b'\x00\x00\x00\x02\x01\x00')                  # r.a:b:c
    return ops


def query_seeds(docs):
    ops = query_ops()
    seeds = [QUERY_DOC + b'\x00' + bytes([mode]) + b''.join(ops) for mode in (0, 1)]
    for i, op in enumerate(ops):
        seeds.append(QUERY_DOC + b'\x00' + bytes([i & 1]) + op)
    for doc in docs:
        seeds.append(doc + b'\x00\x01' + b''.join(ops[:20]))
    return seeds


def edit_seeds(rng):
    doc = b'<d a="1"><e/><f>v</f></d>'
    build = (b'\x00\x01' + arg(None) + arg(b'doc') + arg(None) +          # heap document
             b'\x00\x00' + arg(b'p') + arg(b'e') + arg(b'v') +             # element
             b'\x06\x00\x01' +                                             # append e to doc
             b'\x0d\x00' + arg(None) + arg(b'k') + arg(b'1') +             # attribute
             b'\x0c\x00' + b'\x11\x00' + b'\x09\x01' + b'\x0a\x00')       # clone, write, remove, free
    pooled = (b'\x01\x01' + arg(None) + arg(b'pd') + arg(None) +           # pooled document
              b'\x01\x00\x00\x01' + arg(None) + arg(b'pe') + arg(None) +   # element in its pool
              b'\x04\x00\x01' + b'\x03\x01' + arg(b'') + arg(b'renamed') + arg(b'x') +
              b'\x10\x01\x02\x05\x00\x00\x00' + arg(b'n') + b'\x00' + b'\x0b\x01' + b'\x0a\x00')
    parsed = (b'\x02' + doc + b'\x00\x00' + b'\x02' + doc + b'\x00\x01' +
              b'\x07\x01\x00' + b'\x08\x02\x00' + b'\x12\x01' + b'\x0e\x00' + arg(None) +
              arg(b'a') + arg(b'2') + b'\x0f\x00' + arg(b'') + arg(b'a') + b'\x11\x00')
    # Pooled nodes made parentless siblings (no root), then renamed and given values.
    rootless = (b'\x01\x01' + arg(None) + arg(b'pd') + arg(None) +
                b'\x01\x00\x00\x01' + arg(None) + arg(b'x') + arg(b'v') +
                b'\x01\x00\x00\x01' + arg(None) + arg(b'y') + arg(b'v') +
                b'\x07\x01\x02' + b'\x03\x02' + arg(None) + arg(b'renamed') + arg(b'w') +
                b'\x10\x02\x01\x05\x00\x00\x00' + arg(b'n') + b'\x01' + b'\x0a\x00')
    seeds = [build, pooled, parsed, build + pooled + parsed, rootless]
    for _ in range(12):
        seeds.append(bytes(rng.randrange(256) for _ in range(rng.randrange(16, 200))))
    return seeds


def cpp_seeds(docs, rng):
    """fuzz_cpp: a document, NUL, then steps of (failure byte, operation, arguments)."""
    def view(text):
        return bytes([len(text)]) + text
    calm = 0xff  # no allocation failure in this step
    steps = [
        bytes([calm, 0]), bytes([calm, 2]), bytes([calm, 1]),               # walks
        bytes([calm, 5]) + view(b'n') + view(b'v') + view(b'') + b'\x01',  # append_child
        bytes([calm, 5]) + view(b'm') + view(b'') + view(b'p') + b'\x00',  # prepend_child
        bytes([calm, 6]) + view(b'k') + view(b'1') + b'\x01',              # set_attr text
        bytes([calm, 6]) + view(b'u') + view(b'') + b'\x00' + b'\x39\x30\x00\x00',
        bytes([calm, 7]) + view(b'u') + b'\x01',                           # get_attr<uint8>
        bytes([calm, 8]) + view(b'n') + b'\x01',                           # find
        bytes([calm, 9]) + view(b'text'), bytes([calm, 10]) + view(b'r') + view(b'q'),
        bytes([calm, 11]),                                                # write and reparse
        bytes([calm, 3, ord('n')]), bytes([calm, 4, ord('k')]),           # removal in loops
        bytes([3, 5]) + view(b'x') + view(b'y') + view(b'') + b'\x01',     # under a failure
        bytes([calm, 5]) + view(b'a\x00b') + view(b'') + view(b'') + b'\x01',  # NUL in a view
    ]
    seeds = [b'<r a="1"><n>t</n><m/></r>\x00' + b''.join(steps)]
    for i, step in enumerate(steps):
        seeds.append((b'<r/>' if i % 2 else b'<r></r>') + b'\x00' + step)
    for doc in docs:
        seeds.append(doc + b'\x00' + b''.join(rng.sample(steps, 6)))
    return seeds


def shared_corpus(generator):
    files = []
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([sys.executable, generator, out, '--scale', '0.001'], check=True,
                       stdout=subprocess.DEVNULL)
        for name in sorted(os.listdir(out)):
            with open(os.path.join(out, name), 'rb') as f:
                data = f.read()
            if len(data) < MAX_SEED:
                files.append((name, data))
    return files


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds:
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


def main():
    generator = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        HERE, '..', '..', 'shared', 'bench', 'make_corpus.py')
    shared = shared_corpus(generator)
    own = [('text%02d.xml' % i, t) for i, t in enumerate(TEXTS)]
    write('fuzz_parse', own + shared)
    write('fuzz_roundtrip', own + shared)
    small_shared = [d for n, d in shared if len(d) < 16 * 1024]
    write('fuzz_query', [('query%02d' % i, s) for i, s in enumerate(query_seeds(small_shared))])
    rng = random.Random(20240517)
    write('fuzz_edit', [('edit%02d' % i, s) for i, s in enumerate(edit_seeds(rng))])
    docs = [t for t in TEXTS if b'\x00' not in t] + small_shared
    write('fuzz_cpp', [('cpp%02d' % i, s) for i, s in enumerate(cpp_seeds(docs, rng))])


if __name__ == '__main__':
    main()
