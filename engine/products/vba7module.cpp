#include "products/vba7module.h"

#include "products/renderers.h"

namespace {

// Everything before the constants that vary: the module's rules, as its reader sees them.
constexpr QStringView kHead =
    u"Option Explicit\n"
    u"\n"
    u"' Машинный код и его вызов (Orvandine Converter). Модуль загружается в VBA7\n"
    u"' (Office 2010 и новее, 32 и 64 бита), VBA6 и VB6.\n"
    u"' CallAsmCode(P1, P2, P3, P4) вызывает код через CallWindowProcW. При первом\n"
    u"' вызове код копируется в память, доступную только для чтения и выполнения;\n"
    u"' FreeAsmCode освобождает её.\n"
    u"\n";

// From the declarations to the procedure that calls the parts of the hex string.
constexpr QStringView kBody =
    u"Private Const MEM_COMMIT_RESERVE As Long = &H3000&\n"
    u"Private Const MEM_RELEASE As Long = &H8000&\n"
    u"Private Const PAGE_READWRITE As Long = &H4&\n"
    u"Private Const PAGE_EXECUTE_READ As Long = &H20&\n"
    u"\n"
    u"#If VBA7 Then\n"
    u"Private Declare PtrSafe Function VirtualAlloc Lib \"kernel32\" (ByVal lpAddress As LongPtr, "
    u"ByVal dwSize As LongPtr, ByVal flAllocationType As Long, ByVal flProtect As Long) As LongPtr\n"
    u"Private Declare PtrSafe Function VirtualProtect Lib \"kernel32\" (ByVal lpAddress As LongPtr, "
    u"ByVal dwSize As LongPtr, ByVal flNewProtect As Long, ByRef lpflOldProtect As Long) As Long\n"
    u"Private Declare PtrSafe Function VirtualFree Lib \"kernel32\" (ByVal lpAddress As LongPtr, "
    u"ByVal dwSize As LongPtr, ByVal dwFreeType As Long) As Long\n"
    u"Private Declare PtrSafe Sub RtlMoveMemory Lib \"kernel32\" (ByVal Destination As LongPtr, "
    u"ByVal Source As LongPtr, ByVal Length As LongPtr)\n"
    u"Private Declare PtrSafe Function CallWindowProcW Lib \"user32\" (ByVal lpPrevWndFunc As LongPtr, "
    u"ByVal hWnd As LongPtr, ByVal Msg As Long, ByVal wParam As LongPtr, ByVal lParam As LongPtr) As LongPtr\n"
    u"Private CodeAddress As LongPtr\n"
    u"#Else\n"
    u"Private Declare Function VirtualAlloc Lib \"kernel32\" (ByVal lpAddress As Long, "
    u"ByVal dwSize As Long, ByVal flAllocationType As Long, ByVal flProtect As Long) As Long\n"
    u"Private Declare Function VirtualProtect Lib \"kernel32\" (ByVal lpAddress As Long, "
    u"ByVal dwSize As Long, ByVal flNewProtect As Long, ByRef lpflOldProtect As Long) As Long\n"
    u"Private Declare Function VirtualFree Lib \"kernel32\" (ByVal lpAddress As Long, "
    u"ByVal dwSize As Long, ByVal dwFreeType As Long) As Long\n"
    u"Private Declare Sub RtlMoveMemory Lib \"kernel32\" (ByVal Destination As Long, "
    u"ByVal Source As Long, ByVal Length As Long)\n"
    u"Private Declare Function CallWindowProcW Lib \"user32\" (ByVal lpPrevWndFunc As Long, "
    u"ByVal hWnd As Long, ByVal Msg As Long, ByVal wParam As Long, ByVal lParam As Long) As Long\n"
    u"Private CodeAddress As Long\n"
    u"#End If\n"
    u"\n"
    u"#If VBA7 Then\n"
    u"Public Function CallAsmCode(ByVal P1 As LongPtr, ByVal P2 As Long, ByVal P3 As LongPtr, "
    u"ByVal P4 As LongPtr) As LongPtr\n"
    u"    If CodeAddress = 0 Then MakeCode\n"
    u"    CallAsmCode = CallWindowProcW(CodeAddress, P1, P2, P3, P4)\n"
    u"End Function\n"
    u"#Else\n"
    u"Public Function CallAsmCode(ByVal P1 As Long, ByVal P2 As Long, ByVal P3 As Long, "
    u"ByVal P4 As Long) As Long\n"
    u"    If CodeAddress = 0 Then MakeCode\n"
    u"    CallAsmCode = CallWindowProcW(CodeAddress, P1, P2, P3, P4)\n"
    u"End Function\n"
    u"#End If\n"
    u"\n"
    u"Public Sub FreeAsmCode()\n"
    u"    If CodeAddress <> 0 Then\n"
    u"        VirtualFree CodeAddress, 0, MEM_RELEASE\n"
    u"        CodeAddress = 0\n"
    u"    End If\n"
    u"End Sub\n"
    u"\n"
    u"' Сверяет разрядность кода и процесса и готовит память кода: байты пишутся в неё,\n"
    u"' пока она доступна для записи, затем она становится доступной для выполнения.\n"
    u"Private Sub MakeCode()\n"
    u"    Dim HostBits As Long\n"
    u"    Dim Digits As String\n"
    u"    Dim Code() As Byte\n"
    u"    Dim i As Long\n"
    u"    Dim OldProtect As Long\n"
    u"#If Win64 Then\n"
    u"    HostBits = 64\n"
    u"#Else\n"
    u"    HostBits = 32\n"
    u"#End If\n"
    u"    If CodeSize = 0 Then Err.Raise vbObjectError + 513, \"CallAsmCode\", "
    u"\"В модуле нет машинного кода: исходный текст не дал ни одного байта, вызывать нечего.\"\n"
    u"    If CodeBits = 16 Then Err.Raise vbObjectError + 514, \"CallAsmCode\", "
    u"\"Код собран как 16-битный (в исходном тексте нет директивы bits 32 или bits 64), а процесс \" & "
    u"HostBits & \"-битный: вызвать код нельзя. Добавьте в начало исходного текста bits \" & HostBits & "
    u"\" и создайте модуль заново.\"\n"
    u"    If CodeBits = 0 Then Err.Raise vbObjectError + 514, \"CallAsmCode\", "
    u"\"Разрядность кода неизвестна (в исходном тексте разные директивы bits или bits не с числом): "
    u"вызвать код нельзя. Оставьте в исходном тексте одну директиву bits \" & HostBits & "
    u"\" и создайте модуль заново.\"\n"
    u"    If CodeBits <> HostBits Then Err.Raise vbObjectError + 515, \"CallAsmCode\", "
    u"\"Код \" & CodeBits & \"-битный, а процесс \" & HostBits & \"-битный: вызвать код здесь нельзя. "
    u"Для 32-битного Office и VB6 нужен код с bits 32, для 64-битного Office - с bits 64.\"\n"
    u"    Digits = CodeDigits()\n"
    u"    ReDim Code(CodeSize - 1)\n"
    u"    For i = 0 To CodeSize - 1\n"
    u"        Code(i) = CByte(\"&H\" & Mid$(Digits, 2 * i + 1, 2))\n"
    u"    Next i\n"
    u"    CodeAddress = VirtualAlloc(0, CodeSize, MEM_COMMIT_RESERVE, PAGE_READWRITE)\n"
    u"    If CodeAddress = 0 Then Err.Raise vbObjectError + 516, \"CallAsmCode\", "
    u"\"Не удалось выделить память для кода (ошибка Windows \" & Err.LastDllError & \").\"\n"
    u"    RtlMoveMemory CodeAddress, VarPtr(Code(0)), CodeSize\n"
    u"    If VirtualProtect(CodeAddress, CodeSize, PAGE_EXECUTE_READ, OldProtect) = 0 Then\n"
    u"        i = Err.LastDllError\n"
    u"        VirtualFree CodeAddress, 0, MEM_RELEASE\n"
    u"        CodeAddress = 0\n"
    u"        Err.Raise vbObjectError + 516, \"CallAsmCode\", "
    u"\"Не удалось сделать память кода исполняемой (ошибка Windows \" & i & \").\"\n"
    u"    End If\n"
    u"End Sub\n"
    u"\n"
    u"' HEX строка кода, по две цифры на байт, собранная из частей.\n"
    u"Private Function CodeDigits() As String\n"
    u"    Dim Digits As String\n"
    u"    Dim Pos As Long\n"
    u"    Digits = Space$(2 * CodeSize)\n"
    u"    Pos = 1\n";

constexpr QStringView kAddDigits =
    u"    CodeDigits = Digits\n"
    u"End Function\n"
    u"\n"
    u"Private Sub AddDigits(ByRef Digits As String, ByRef Pos As Long, ByVal Part As String)\n"
    u"    Mid(Digits, Pos, Len(Part)) = Part\n"
    u"    Pos = Pos + Len(Part)\n"
    u"End Sub\n";

}  // namespace

QString Vba7ModuleText(QByteArrayView code, CodeMode mode) {
    const qsizetype lines = (code.size() + kVba7BytesPerLine - 1) / kVba7BytesPerLine;
    const qsizetype parts = (lines + kVba7LinesPerPart - 1) / kVba7LinesPerPart;
    QString text;
    text.reserve(kHead.size() + kBody.size() + kAddDigits.size() + 2 * code.size() + 40 * lines + 80 * parts + 200);
    text += kHead;
    text += QStringLiteral("Private Const CodeBits As Long = %1\n").arg(ModeWidth(mode));
    text += QStringLiteral("Private Const CodeSize As Long = %1\n").arg(code.size());
    text += kBody;
    for (qsizetype part = 1; part <= parts; ++part) text += QStringLiteral("    CodeDigits%1 Digits, Pos\n").arg(part);
    text += kAddDigits;
    for (qsizetype line = 0; line < lines; ++line) {
        if (line % kVba7LinesPerPart == 0)
            text += QStringLiteral("\nPrivate Sub CodeDigits%1(ByRef Digits As String, ByRef Pos As Long)\n")
                        .arg(line / kVba7LinesPerPart + 1);
        text += QLatin1StringView("    AddDigits Digits, Pos, \"");
        text += HexString(
            code.sliced(line * kVba7BytesPerLine, qMin(kVba7BytesPerLine, code.size() - line * kVba7BytesPerLine)));
        text += QLatin1StringView("\"\n");
        if (line % kVba7LinesPerPart == kVba7LinesPerPart - 1 || line == lines - 1)
            text += QLatin1StringView("End Sub\n");
    }
    return text.replace(u'\n', QLatin1StringView("\r\n"));
}
