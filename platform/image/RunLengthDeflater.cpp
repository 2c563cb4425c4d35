#include "platform/image/RunLengthDeflater.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

namespace {

constexpr int kLiteralLengthSymbols = 286;
constexpr int kEndOfBlock = 256;
constexpr int kMinRun = 3;
constexpr int kMaxRun = 258;
// Tokens per block: each block's codes follow the statistics of its part of the rows.
constexpr size_t kBlockTokens = 1 << 15;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;
// The order in which a dynamic block lists the code lengths of its code-length code.
constexpr std::array<int, 19> kCodeLengthOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct LengthCode
{
    int symbol = 0;
    int extraBits = 0;
    int extraValue = 0;
};

// The literal/length symbol of each run length, with its extra bits.
const std::array<LengthCode, kMaxRun + 1> kLengthCodes = [] {
    constexpr std::array<int, 29> base = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    std::array<LengthCode, kMaxRun + 1> codes{};
    for (int length = kMinRun; length <= kMaxRun; ++length) {
        // 258 has a symbol of its own; 284 with all extra bits set would mean it too, but
        // that is not a valid code for it.
        const int index =
            length == kMaxRun ? 28 : int(std::upper_bound(base.begin(), base.end() - 1, length) - base.begin()) - 1;
        const int extraBits = index < 8 || index == 28 ? 0 : (index - 4) / 4;
        codes[size_t(length)] = {257 + index, extraBits, length - base[size_t(index)]};
    }
    return codes;
}();

// The literal/length symbol of each token.
const std::array<quint16, kEndOfBlock + kMaxRun + 1> kTokenSymbols = [] {
    std::array<quint16, kEndOfBlock + kMaxRun + 1> symbols{};
    for (int token = 0; token < int(symbols.size()); ++token)
        symbols[size_t(token)] =
            quint16(token < kEndOfBlock ? token : kLengthCodes[size_t(token - kEndOfBlock)].symbol);
    return symbols;
}();

// Lengths of a Huffman code for `frequency`, none longer than `limit`. At least two symbols
// get a code: a code of one symbol is incomplete, which inflaters refuse for some alphabets.
template <size_t N> std::array<quint8, N> codeLengths(const std::array<quint32, N>& frequency, int limit)
{
    std::vector<int> symbols;
    for (size_t i = 0; i < N; ++i)
        if (frequency[i])
            symbols.push_back(int(i));
    for (int i = 0; symbols.size() < 2; ++i)
        if (!frequency[size_t(i)])
            symbols.push_back(i);
    std::stable_sort(symbols.begin(), symbols.end(),
                     [&](int a, int b) { return frequency[size_t(a)] < frequency[size_t(b)]; });

    // The tree by the two-queue method: the leaves in order of weight, then the inner nodes
    // in the order made, which is also their order of weight.
    const int leaves = int(symbols.size());
    std::vector<quint64> weight(size_t(2 * leaves - 1));
    std::vector<int> parent(weight.size());
    for (int i = 0; i < leaves; ++i)
        weight[size_t(i)] = frequency[size_t(symbols[size_t(i)])];
    int leaf = 0, inner = leaves;
    for (int made = leaves; made < 2 * leaves - 1; ++made) {
        for (int child = 0; child < 2; ++child) {
            const bool takeLeaf = leaf < leaves && (inner >= made || weight[size_t(leaf)] <= weight[size_t(inner)]);
            const int taken = takeLeaf ? leaf++ : inner++;
            weight[size_t(made)] += weight[size_t(taken)];
            parent[size_t(taken)] = made;
        }
    }
    std::vector<int> depth(weight.size());
    std::array<int, kMaxCodeBits + 1> countOfLength{};
    for (int node = 2 * leaves - 3; node >= 0; --node) {
        depth[size_t(node)] = depth[size_t(parent[size_t(node)])] + 1;
        if (node < leaves)
            ++countOfLength[size_t(std::min(depth[size_t(node)], limit))];
    }
    // Codes cut to the limit overfill the code space: move the deepest down until it fits,
    // taking the room from the longest code that is shorter than the limit.
    qint64 filled = 0;
    for (int length = 1; length <= limit; ++length)
        filled += qint64(countOfLength[size_t(length)]) << (limit - length);
    for (; filled > (qint64(1) << limit); --filled) {
        --countOfLength[size_t(limit)];
        for (int length = limit - 1; length > 0; --length) {
            if (countOfLength[size_t(length)]) {
                --countOfLength[size_t(length)];
                countOfLength[size_t(length + 1)] += 2;
                break;
            }
        }
    }
    // The rarest symbols get the longest codes.
    std::array<quint8, N> lengths{};
    auto next = symbols.begin();
    for (int length = limit; length > 0; --length)
        for (int i = 0; i < countOfLength[size_t(length)]; ++i)
            lengths[size_t(*next++)] = quint8(length);
    return lengths;
}

// The canonical codes of `lengths`, bit-reversed: deflate sends a code's first bit first
// into a stream that is filled from the least significant bit.
template <size_t N> std::array<quint16, N> canonicalCodes(const std::array<quint8, N>& lengths)
{
    std::array<int, kMaxCodeBits + 2> nextCode{};
    std::array<int, kMaxCodeBits + 1> countOfLength{};
    for (quint8 length : lengths)
        ++countOfLength[length];
    countOfLength[0] = 0;
    for (int bits = 1, code = 0; bits <= kMaxCodeBits; ++bits) {
        code = (code + countOfLength[size_t(bits - 1)]) << 1;
        nextCode[size_t(bits)] = code;
    }
    std::array<quint16, N> codes{};
    for (size_t i = 0; i < N; ++i) {
        const int length = lengths[i];
        if (!length)
            continue;
        const int code = nextCode[size_t(length)]++;
        int reversed = 0;
        for (int bit = 0; bit < length; ++bit)
            reversed |= ((code >> bit) & 1) << (length - 1 - bit);
        codes[i] = quint16(reversed);
    }
    return codes;
}

} // namespace

// Packs bits into the output from the least significant bit on, a 32-bit word at a time,
// into room reserved beforehand; kept in locals while a block is written.
class RunLengthDeflater::BitWriter
{
public:
    BitWriter(RunLengthDeflater& deflater, qsizetype room)
        : m_deflater(deflater), m_buffer(deflater.m_bitBuffer), m_count(deflater.m_bitCount)
    {
        const qsizetype at = deflater.m_out.size();
        deflater.m_out.resize(at + room + 8); // the last word stored may reach past the room
        m_out = deflater.m_out.data() + at;
    }
    ~BitWriter()
    {
        m_deflater.m_out.resize(m_out - m_deflater.m_out.constData());
        m_deflater.m_bitBuffer = m_buffer;
        m_deflater.m_bitCount = m_count;
    }

    // Without a branch: eight bytes are stored each time, and the whole ones among them kept.
    void put(quint32 bits, int count)
    {
        m_buffer |= quint64(bits) << m_count;
        m_count += count;
        qToLittleEndian(m_buffer, m_out);
        const int bytes = m_count >> 3;
        m_out += bytes;
        m_buffer >>= bytes * 8;
        m_count &= 7;
    }

    void alignToByte()
    {
        for (; m_count > 0; m_count -= 8) {
            *m_out++ = char(m_buffer & 0xff);
            m_buffer >>= 8;
        }
        m_count = 0;
        m_buffer = 0;
    }

    void putBytes(const char* bytes, int size)
    {
        std::memcpy(m_out, bytes, size_t(size));
        m_out += size;
    }

private:
    RunLengthDeflater& m_deflater;
    quint64 m_buffer;
    int m_count;
    char* m_out = nullptr;
};

RunLengthDeflater::RunLengthDeflater(QByteArray& out) : m_out(out), m_tokens(kBlockTokens) {}

void RunLengthDeflater::write(const quint8* data, qsizetype size)
{
    quint16* const tokens = m_tokens.data();
    size_t count = m_tokenCount;
    int previous = m_previous;
    for (qsizetype i = 0; i < size;) {
        if (count == kBlockTokens) {
            m_tokenCount = count;
            writeBlock(false);
            count = 0;
        }
        const int byte = data[i];
        if (byte != previous || size - i < kMinRun || data[i + 1] != byte || data[i + 2] != byte) {
            tokens[count++] = quint16(byte);
            previous = byte;
            ++i;
            continue;
        }
        qsizetype run = kMinRun;
        const qsizetype longest = std::min<qsizetype>(kMaxRun, size - i);
        while (run < longest && data[i + run] == byte)
            ++run;
        tokens[count++] = quint16(kEndOfBlock + run);
        i += run;
    }
    m_tokenCount = count;
    m_previous = previous;
}

void RunLengthDeflater::finish(bool last)
{
    writeBlock(last);
    BitWriter bits(*this, 16);
    if (!last)
        bits.put(0, 3); // an empty stored block follows: not final, type 00
    bits.alignToByte();
    if (!last)
        bits.putBytes("\x00\x00\xff\xff", 4); // its length, 0, and the length's complement
}

void RunLengthDeflater::writeBlock(bool final)
{
    const auto tokens = std::span(m_tokens).first(m_tokenCount);
    std::array<quint32, kLiteralLengthSymbols> frequency{};
    for (quint16 token : tokens)
        ++frequency[kTokenSymbols[token]];
    frequency[kEndOfBlock] = 1;
    const auto lengths = codeLengths(frequency, kMaxCodeBits);
    const auto codes = canonicalCodes(lengths);
    int literalLengthCount = kLiteralLengthSymbols;
    while (!lengths[size_t(literalLengthCount - 1)])
        --literalLengthCount;
    // Every run is at distance 1, distance code 0; code 1 stands beside it so that the
    // distance code is complete: both are one bit long, and code 0 is the bit 0.
    const std::array<quint8, 2> distanceLengths = {1, 1};

    // The code lengths of both codes in a row, each sent in the code-length code.
    std::vector<quint8> sequence(lengths.begin(), lengths.begin() + literalLengthCount);
    sequence.insert(sequence.end(), distanceLengths.begin(), distanceLengths.end());
    std::array<quint32, 19> lengthFrequency{};
    for (quint8 length : sequence)
        ++lengthFrequency[length];
    const auto lengthLengths = codeLengths(lengthFrequency, kMaxCodeLengthBits);
    const auto lengthCodes = canonicalCodes(lengthLengths);
    int lengthLengthCount = 19;
    while (!lengthLengths[size_t(kCodeLengthOrder[size_t(lengthLengthCount - 1)])])
        --lengthLengthCount;

    // Each token's bits in one piece: a run's length symbol, its extra bits, then distance
    // code 0, one bit.
    std::array<quint32, kEndOfBlock + kMaxRun + 1> tokenBits{};
    std::array<quint8, kEndOfBlock + kMaxRun + 1> tokenBitCount{};
    for (int literal = 0; literal < kEndOfBlock; ++literal) {
        tokenBits[size_t(literal)] = codes[size_t(literal)];
        tokenBitCount[size_t(literal)] = lengths[size_t(literal)];
    }
    for (int run = kMinRun; run <= kMaxRun; ++run) {
        const LengthCode& code = kLengthCodes[size_t(run)];
        const int symbolBits = lengths[size_t(code.symbol)];
        tokenBits[size_t(kEndOfBlock + run)] = codes[size_t(code.symbol)] | quint32(code.extraValue) << symbolBits;
        tokenBitCount[size_t(kEndOfBlock + run)] = quint8(symbolBits + code.extraBits + 1);
    }

    // At most 15 + 5 + 1 bits a token, and the codes' description.
    BitWriter bits(*this, qsizetype(tokens.size()) * 3 + 1024);
    bits.put(final ? 1 : 0, 1);
    bits.put(2, 2); // dynamic Huffman codes
    bits.put(quint32(literalLengthCount - 257), 5);
    bits.put(quint32(distanceLengths.size() - 1), 5);
    bits.put(quint32(lengthLengthCount - 4), 4);
    for (int i = 0; i < lengthLengthCount; ++i)
        bits.put(lengthLengths[size_t(kCodeLengthOrder[size_t(i)])], 3);
    for (quint8 length : sequence)
        bits.put(lengthCodes[length], lengthLengths[length]);
    for (quint16 token : tokens)
        bits.put(tokenBits[token], tokenBitCount[token]);
    bits.put(codes[kEndOfBlock], lengths[kEndOfBlock]);
    m_tokenCount = 0;
}
