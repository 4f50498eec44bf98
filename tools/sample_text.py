"""Sample text for the folders the packer's test and benchmark make: lines
numbered with `digits` digits, each of `per_line` words drawn from `words`
by rng, cut to size bytes. Deflates well, as a product's text files do."""


def numbered_lines(rng, size, words, digits, per_line):
    out = bytearray()
    line = 0
    while len(out) < size:
        out += b'%0*d ' % (digits, line) + b' '.join(rng.choice(words) for _ in range(per_line)) + b'\n'
        line += 1
    return bytes(out[:size])
