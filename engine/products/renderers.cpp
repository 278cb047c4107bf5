#include "products/renderers.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// Both UTF-16 digits of every byte value, laid out as they go into memory, so
// that one 32-bit store writes a whole byte's digits.
constexpr std::array<char16_t, 512> MakePairs() {
    std::array<char16_t, 512> pairs{};
    for (int b = 0; b < 256; ++b) {
        pairs[2 * b] = char16_t(kDigits[b >> 4]);
        pairs[2 * b + 1] = char16_t(kDigits[b & 15]);
    }
    return pairs;
}

constexpr std::array<char16_t, 512> kPairs = MakePairs();

// The same pairs as 32-bit words in memory order (little-endian: the first
// digit in the low half).
constexpr std::array<std::uint32_t, 256> MakePairWords() {
    std::array<std::uint32_t, 256> words{};
    for (int b = 0; b < 256; ++b) words[b] = std::uint32_t(kPairs[2 * b]) | std::uint32_t(kPairs[2 * b + 1]) << 16;
    return words;
}

constexpr std::array<std::uint32_t, 256> kPairWords = MakePairWords();
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "kPairWords assumes little-endian memory");

}  // namespace

QString HexByte(int value) {
    const auto b = static_cast<unsigned char>(value);
    return QString(reinterpret_cast<const QChar *>(&kPairs[2 * b]), 2);
}

void WriteHexDigits(QByteArrayView bytes, char16_t *out) {
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    // Four bytes at a time: two 64-bit stores of four digits each.
    for (; i + 4 <= n; i += 4) {
        const std::uint64_t a = kPairWords[in[i]] | std::uint64_t(kPairWords[in[i + 1]]) << 32;
        const std::uint64_t b = kPairWords[in[i + 2]] | std::uint64_t(kPairWords[in[i + 3]]) << 32;
        std::memcpy(out + 2 * i, &a, sizeof a);
        std::memcpy(out + 2 * i + 4, &b, sizeof b);
    }
    for (; i < n; ++i) std::memcpy(out + 2 * i, &kPairs[2 * in[i]], 2 * sizeof(char16_t));
}

void WriteHexLatin1(QByteArrayView bytes, char *out) {
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        *out++ = kDigits[in[i] >> 4];
        *out++ = kDigits[in[i] & 15];
    }
}

QString HexString(QByteArrayView bytes) {
    QString hex(bytes.size() * 2, Qt::Uninitialized);
    WriteHexDigits(bytes, reinterpret_cast<char16_t *>(hex.data()));
    return hex;
}

namespace {

constexpr QLatin1StringView kModuleHead("Const CodeString = \"");
constexpr QLatin1StringView kModuleRest(
    "\"\r\n"
    "Public Declare Function CallWindowProc Lib \"user32\" Alias \"CallWindowProcA\" "
    "(ByVal ptrMC As Long, ByVal P1 As Long, ByVal P2 As Long, ByVal P3 As Long, "
    "ByVal P4 As Long) As Long\r\n"
    "\r\n"
    "Public Function CallAsmFunction(ByVal P1 As Long, ByVal P2 As Long, "
    "ByVal P3 As Long, ByVal P4 As Long)\r\n"
    "    Dim i As Long\r\n"
    "    Dim BinCode() As Byte\r\n"
    "    If Len(CodeString) = 0 Then Exit Function\r\n"
    "    ReDim BinCode(Len(CodeString) \\ 2 - 1)\r\n"
    "    For i = 0 To Len(CodeString) \\ 2 - 1\r\n"
    "        BinCode(i) = CByte(\"&H\" & Mid(CodeString, i * 2 + 1, 2))\r\n"
    "    Next i\r\n"
    "    CallAsmFunction = CallWindowProc (VarPtr(BinCode(0)), P1, P2, P3, P4)\r\n"
    "End Function\r\n");

}  // namespace

QString ModuleText(const QString &hexString) {
    QString text;
    text.reserve(kModuleHead.size() + hexString.size() + kModuleRest.size());
    text += kModuleHead;
    text += hexString;
    text += kModuleRest;
    return text;
}

QByteArray ModuleBytes(QByteArrayView code) {
    QByteArray module(kModuleHead.size() + 2 * code.size() + kModuleRest.size(), Qt::Uninitialized);
    char *out = module.data();
    out = std::copy(kModuleHead.begin(), kModuleHead.end(), out);
    WriteHexLatin1(code, out);
    std::copy(kModuleRest.begin(), kModuleRest.end(), out + 2 * code.size());
    return module;
}
