"""Trimming by the Unicode White_Space property, as the engine trims: the 25
code points spelled out (str.strip trims a different set)."""

WHITE_SPACE = frozenset(
    chr(c)
    for c in [0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680,
              *range(0x2000, 0x200B), 0x2028, 0x2029, 0x202F, 0x205F, 0x3000]
)


def trim(text: str) -> str:
    begin, end = 0, len(text)
    while begin < end and text[begin] in WHITE_SPACE:
        begin += 1
    while end > begin and text[end - 1] in WHITE_SPACE:
        end -= 1
    return text[begin:end]
