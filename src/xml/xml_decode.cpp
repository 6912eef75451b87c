// xml_decode.cpp - decoded copies of raw text: the five named entities, numeric
// character references written as UTF-8, and CDATA sections taken verbatim.
#include <array>
#include <bit>
#include <climits>

#include "xml_parse.h"

namespace {

// A named entity, with its text also as the first bytes of an 8-byte word (`word`
// under `mask`) for a match by one load.
struct NamedEntity {
    std::string_view text;
    char replacement;
    uint64_t word = 0;
    uint64_t mask = 0;
};
constexpr NamedEntity Entity(std::string_view text, char replacement) {
    std::array<unsigned char, 8> bytes{}, mask{};
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(text[i]);
        mask[i] = 0xFF;
    }
    return {text, replacement, std::bit_cast<uint64_t>(bytes), std::bit_cast<uint64_t>(mask)};
}
constexpr NamedEntity kEntities[] = {Entity("&amp;", '&'), Entity("&lt;", '<'), Entity("&gt;", '>'),
                                     Entity("&apos;", '\''), Entity("&quot;", '"')};

// Without a branch: the references of a text take the ranges in any order.
XML_HOT_INLINE bool IsXmlChar(uint32_t c) {
    return (c == 0x9) | (c == 0xA) | (c == 0xD) | (c - 0x20 <= 0xD7FF - 0x20) |
           (c - 0xE000 <= 0xFFFD - 0xE000) | (c - 0x10000 <= 0x10FFFF - 0x10000);
}

// XmlParseCharRef, inlined into the decoding loop.
XML_HOT_INLINE uint32_t CharRef(const char *position, uint32_t *length) {
    if (position[0] != '&' || position[1] != '#') return 0;
    uint32_t hex = position[2] == 'x';  // no branch: both kinds come in any order
    const char *p = position + 2 + hex;
    uint32_t base = 10 + 6 * hex;
    const char *digits = p;
    uint32_t value = 0;
    for (; *p != ';'; ++p) {
        uint32_t digit = XmlDigitValue(*p);
        if (digit >= base) return 0;  // also the terminating NUL
        value = value * base + digit;
        if (value > 0x10FFFF) return 0;
    }
    if (p == digits) return 0;
    *length = static_cast<uint32_t>(p + 1 - position);
    return IsXmlChar(value) ? value : 0;
}

// XmlEncodeUtf8, inlined into the decoding loop.
XML_HOT_INLINE uint32_t EncodeUtf8(char *destination, uint32_t codePoint) {
    auto *out = reinterpret_cast<unsigned char *>(destination);
    if (codePoint < 0x80) {
        out[0] = static_cast<unsigned char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (codePoint >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
        return 3;
    }
    if (codePoint < 0x110000) {
        out[0] = static_cast<unsigned char>(0xF0 | (codePoint >> 18));
        out[1] = static_cast<unsigned char>(0x80 | ((codePoint >> 12) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[3] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
        return 4;
    }
    return 0;
}

// Moves plain bytes from p to out up to the next '&' or '<' or the end; returns
// the new p. The copy never outgrows its source (out - destination <= p - source),
// so while 16 source bytes remain, 16 bytes of room remain at out: whole blocks
// are stored before they are searched.
XML_HOT_INLINE const char *CopyPlain(const char *p, const char *end, char **out) {
    char *to = *out;
#if defined(__SSE2__)
    const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<');
    while (end - p >= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to), block);
        int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, amp), _mm_cmpeq_epi8(block, lt)));
        if (mask != 0) {
            auto skip = __builtin_ctz(static_cast<unsigned>(mask));
            *out = to + skip;
            return p + skip;
        }
        p += 16;
        to += 16;
    }
#endif
    while (p < end && *p != '&' && *p != '<') *to++ = *p++;
    *out = to;
    return p;
}

// The reference at p ('&'), decoded to *out; the position after it, or null when it
// is malformed or ends after `end`.
XML_HOT_INLINE const char *Reference(const char *p, const char *end, char **out) {
    // The five names differ in their first letter but for "amp" and "apos".
    const NamedEntity *entity = nullptr;
    switch (p[1]) {
        case 'a':
            entity = p[2] == 'm' ? &kEntities[0] : &kEntities[3];
            break;
        case 'l':
            entity = &kEntities[1];
            break;
        case 'g':
            entity = &kEntities[2];
            break;
        case 'q':
            entity = &kEntities[4];
            break;
        default:
            break;
    }
    if (entity != nullptr && end - p >= 8) {  // the whole word lies in the stretch
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if ((word & entity->mask) == entity->word) {
            *(*out)++ = entity->replacement;
            return p + entity->text.size();
        }
    } else if (entity != nullptr && XmlStartsWith(p + 2, entity->text.substr(2))) {
        if (static_cast<size_t>(end - p) < entity->text.size()) return nullptr;
        *(*out)++ = entity->replacement;
        return p + entity->text.size();
    }
    uint32_t refLength = 0;
    uint32_t codePoint = CharRef(p, &refLength);
    if (codePoint == 0 || static_cast<size_t>(end - p) < refLength) return nullptr;
    uint32_t bytes = EncodeUtf8(*out, codePoint);
    if (bytes == 0) return nullptr;
    *out += bytes;
    return p + refLength;
}

// The bytes of the reference at p up to its ";" when that is among its first 8, zeros
// after it (the key of a memo slot); 0 otherwise. *length: the reference's length.
XML_HOT_INLINE uint64_t ReferenceText(const char *p, uint32_t *length) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    uint64_t x = word ^ 0x3B3B3B3B3B3B3B3Bull;  // ";" bytes become zero
    uint64_t zeros = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
    if (zeros == 0) return 0;
    uint32_t bytes = static_cast<uint32_t>(__builtin_ctzll(zeros)) / 8 + 1;  // the first ";"
    *length = bytes;
    return bytes == 8 ? word : word & ((uint64_t{1} << (8 * bytes)) - 1);
}

XML_HOT_INLINE XmlRefMemo::Slot &MemoSlot(XmlRefMemo *memo, uint64_t text) {
    return memo->slots[(text * 0x9E3779B97F4A7C15ull) >> (64 - XmlRefMemo::kBits)];
}

// Reference() through the memo: a reference seen before is written from its slot, as
// 4 bytes (a reference is at least 4 long, so they stay in the room it leaves), and
// one decoded now fills the slot of its text. 16 bytes from p can be read.
XML_HOT_INLINE const char *RememberedReference(const char *p, const char *end, char **out,
                                               XmlRefMemo *memo) {
    uint32_t length = 0;
    uint64_t text = ReferenceText(p, &length);
    if (text == 0) return Reference(p, end, out);
    XmlRefMemo::Slot &slot = MemoSlot(memo, text);
    if (slot.text == text) {
        std::memcpy(*out, &slot.decoded, 4);
        *out += slot.length;
        return p + length;
    }
    char *from = *out;
    const char *next = Reference(p, end, out);
    if (next == p + length) {  // decoded, and the reference ended at its first ";"
        slot.text = text;
        std::memcpy(&slot.decoded, from, 4);
        slot.length = static_cast<uint32_t>(*out - from);
    }
    return next;
}

// The block loop runs while this many bytes remain: a 64-byte copy from inside a
// block reaches at most 127 bytes past its start, and 16 are kept as a margin.
constexpr ptrdiff_t kBlockRoom = 64 + 64 + 16;

#if defined(__SSE2__)
// Bit i set: p[i] is '&' or '<', for the 64 bytes from p.
XML_HOT_INLINE uint64_t Marks64(const char *p) {
    const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<');
    uint64_t marks = 0;
    for (int i = 0; i < 4; ++i) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i));
        auto bits = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, amp), _mm_cmpeq_epi8(block, lt))));
        marks |= static_cast<uint64_t>(bits) << (16 * i);
    }
    return marks;
}
XML_HOT_INLINE void Copy64(char *to, const char *from) {
    for (int i = 0; i < 4; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16 * i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 16 * i)));
}

// Decodes from p while kBlockRoom bytes remain, up to the first "<": the position reached
// (*out moved along), or null for a bad reference. Blocks of 64 bytes are searched
// before anything in them is decoded, so that the search does not wait for each
// reference's length. The copies stay in the room of the source's length.
template <bool kMemo>
XML_HOT_INLINE const char *DecodeBlocks(const char *p, const char *end, char **out,
                                        XmlRefMemo *memo) {
    char *to = *out;
    while (end - p >= kBlockRoom) {
        const char *block = p;
        for (uint64_t marks = Marks64(block); marks != 0; marks &= marks - 1) {
            const char *mark = block + __builtin_ctzll(marks);
            Copy64(to, p);
            to += mark - p;
            p = mark;
            if (*p == '<') {  // CDATA or a stray "<": the caller's step
                *out = to;
                return p;
            }
            p = kMemo ? RememberedReference(p, end, &to, memo) : Reference(p, end, &to);
            if (p == nullptr) return nullptr;
        }
        if (p < block + 64) {
            Copy64(to, p);
            to += block + 64 - p;
            p = block + 64;
        }
    }
    *out = to;
    return p;
}
#else
template <bool kMemo>
XML_HOT_INLINE const char *DecodeBlocks(const char *p, const char *, char **, XmlRefMemo *) {
    return p;
}
#endif

// Decodes [source, source + length) into destination, which has room for length
// bytes (those after the decoded text may be overwritten); *written gets the
// decoded length. Anything that begins inside the stretch but ends after it fails,
// as it would when decoded against the whole text: the remaining count only shrinks.
template <bool kMemo>
uint32_t Decode(char *destination, const char *source, size_t length, size_t *written,
                XmlRefMemo *memo) {
    const char *p = source;
    const char *end = source + length;
    char *out = destination;
    while (p < end) {
        p = DecodeBlocks<kMemo>(p, end, &out, memo);
        if (p == nullptr) return KEL_XML_ERR_SYNTAX;
        p = CopyPlain(p, end, &out);
        if (p == end) break;
        if (*p == '<') {
            if (!XmlIsCdataOpen(p)) {
                *out++ = *p++;
                continue;
            }
            const char *body = p + kXmlTokens[kTokCdataOpen].size();
            if (body > end) return KEL_XML_ERR_SYNTAX;
            const char *close = XmlFindCdataClose(body, end);
            if (close == nullptr) return KEL_XML_ERR_SYNTAX;
            std::memcpy(out, body, static_cast<size_t>(close - body));
            out += close - body;
            p = close + kXmlTokens[kTokCdataClose].size();
            continue;
        }
        p = Reference(p, end, &out);
        if (p == nullptr) return KEL_XML_ERR_SYNTAX;
    }
    *written = static_cast<size_t>(out - destination);
    return 0;
}

// Decode with the memo where the block loop will run, without it elsewhere.
uint32_t DecodeWith(char *destination, const char *source, size_t length, size_t *written,
                    XmlRefMemo *memo) {
    if (memo == nullptr || length < static_cast<size_t>(kBlockRoom))
        return Decode<false>(destination, source, length, written, nullptr);
    if (!memo->ready) {
        std::memset(memo->slots, 0, sizeof memo->slots);
        memo->ready = 1;
    }
    return Decode<true>(destination, source, length, written, memo);
}

bool HoldsNoMarkup(const char *source, size_t length) {
    return XmlFindAny(source, source + length, '&', '<', '&') == source + length;
}

}  // namespace

uint32_t XmlFillDecoded(char *copy, const char *source, size_t length, XmlRefMemo *memo) noexcept {
    if (HoldsNoMarkup(source, length)) {
        std::memcpy(copy, source, length);
        copy[length] = '\0';
        return 0;
    }
    size_t written = 0;
    uint32_t result = DecodeWith(copy, source, length, &written, memo);
    if (result != 0) return result;
    // The bytes behind the decoded text stay zero, as in a cleared copy.
    std::memset(copy + written, 0, length + 1 - written);
    return 0;
}

uint32_t XmlCopyDecoded(KEL_XML_POOL *pool, const char *source, size_t length,
                        char **out) noexcept {
    if (length == 0) return 0;  // an empty stretch is never stored
    if (source == nullptr || out == nullptr) return KEL_XML_ERR_INVALID_PARAM;
    if (length >= INT32_MAX) return KEL_XML_ERR_NO_MEMORY;
    size_t size = length + 1;
    auto *copy = static_cast<char *>(pool ? XmlPoolAlloc(pool, static_cast<int32_t>(size))
                                          : XmlMalloc(size));
    *out = copy;
    if (copy == nullptr) return KEL_XML_ERR_NO_MEMORY;
    uint32_t result = XmlFillDecoded(copy, source, length);
    if (result != 0) {
        if (pool == nullptr) XmlFree(copy);
        *out = nullptr;
    }
    return result;
}

uint32_t XmlDecodeText(char *destination, const char *source, int32_t length) noexcept {
    if (length < 0) return KEL_XML_ERR_SYNTAX;  // the count is already below zero
    size_t written = 0;
    return DecodeWith(destination, source, static_cast<size_t>(length), &written, nullptr);
}

uint32_t XmlParseCharRef(const char *position, uint32_t *length) noexcept {
    return CharRef(position, length);
}

uint32_t XmlEncodeUtf8(char *destination, uint32_t codePoint) noexcept {
    return EncodeUtf8(destination, codePoint);
}
