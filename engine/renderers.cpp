#include "renderers.h"

#include <array>
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

}  // namespace

QString HexByte(int value) {
    const auto b = static_cast<unsigned char>(value);
    return QString(reinterpret_cast<const QChar *>(&kPairs[2 * b]), 2);
}

QString HexString(QByteArrayView bytes) {
    QString hex(bytes.size() * 2, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(hex.data());
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    for (qsizetype i = 0, n = bytes.size(); i < n; ++i) {
        std::memcpy(out + 2 * i, &kPairs[2 * in[i]], 2 * sizeof(char16_t));
    }
    return hex;
}

QString ModuleText(const QString &hexString) {
    static const QLatin1StringView kRest(
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
    QString text;
    text.reserve(hexString.size() + 24 + kRest.size());
    text += QLatin1StringView("Const CodeString = \"");
    text += hexString;
    text += QLatin1StringView("\"\r\n");
    text += kRest;
    return text;
}
