#pragma once

#include <QByteArray>

#include <vector>

// Writes a raw deflate stream (RFC 1951) of the bytes it is given: a byte repeated three or
// more times after itself becomes a run (a match at distance 1), every other byte a literal,
// in blocks that carry Huffman codes of their own. These are the choices of zlib's
// run-length strategy, made several times faster: filtered photo rows hold few longer
// matches worth searching for, so the time goes into coding, and this codes a word at a time.
class RunLengthDeflater
{
public:
    // Appends to `out`, which must outlive the deflater.
    explicit RunLengthDeflater(QByteArray& out);

    void write(const quint8* data, qsizetype size);
    // Ends what was written so far. Not last: on a byte boundary after an empty stored block
    // (zlib's sync flush), so that another deflate stream may carry on from it. Last: with
    // the stream's final block.
    void finish(bool last);

private:
    class BitWriter;

    void writeBlock(bool final);

    QByteArray& m_out;
    std::vector<quint16> m_tokens; // a literal byte, or 256 + the length of a run
    size_t m_tokenCount = 0;
    int m_previous = -1; // the last byte written; -1 before the first
    quint64 m_bitBuffer = 0;
    int m_bitCount = 0;
};
