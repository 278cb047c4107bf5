Option Explicit

' Машинный код и его вызов (Orvandine Converter). Модуль загружается в VBA7
' (Office 2010 и новее, 32 и 64 бита), VBA6 и VB6.
' CallAsmCode(P1, P2, P3, P4) вызывает код через CallWindowProcW. При первом
' вызове код копируется в память, доступную только для чтения и выполнения;
' FreeAsmCode освобождает её.

Private Const CodeBits As Long = 32
Private Const CodeSize As Long = 11
Private Const MEM_COMMIT_RESERVE As Long = &H3000&
Private Const MEM_RELEASE As Long = &H8000&
Private Const PAGE_READWRITE As Long = &H4&
Private Const PAGE_EXECUTE_READ As Long = &H20&

#If VBA7 Then
Private Declare PtrSafe Function VirtualAlloc Lib "kernel32" (ByVal lpAddress As LongPtr, ByVal dwSize As LongPtr, ByVal flAllocationType As Long, ByVal flProtect As Long) As LongPtr
Private Declare PtrSafe Function VirtualProtect Lib "kernel32" (ByVal lpAddress As LongPtr, ByVal dwSize As LongPtr, ByVal flNewProtect As Long, ByRef lpflOldProtect As Long) As Long
Private Declare PtrSafe Function VirtualFree Lib "kernel32" (ByVal lpAddress As LongPtr, ByVal dwSize As LongPtr, ByVal dwFreeType As Long) As Long
Private Declare PtrSafe Sub RtlMoveMemory Lib "kernel32" (ByVal Destination As LongPtr, ByVal Source As LongPtr, ByVal Length As LongPtr)
Private Declare PtrSafe Function CallWindowProcW Lib "user32" (ByVal lpPrevWndFunc As LongPtr, ByVal hWnd As LongPtr, ByVal Msg As Long, ByVal wParam As LongPtr, ByVal lParam As LongPtr) As LongPtr
Private CodeAddress As LongPtr
#Else
Private Declare Function VirtualAlloc Lib "kernel32" (ByVal lpAddress As Long, ByVal dwSize As Long, ByVal flAllocationType As Long, ByVal flProtect As Long) As Long
Private Declare Function VirtualProtect Lib "kernel32" (ByVal lpAddress As Long, ByVal dwSize As Long, ByVal flNewProtect As Long, ByRef lpflOldProtect As Long) As Long
Private Declare Function VirtualFree Lib "kernel32" (ByVal lpAddress As Long, ByVal dwSize As Long, ByVal dwFreeType As Long) As Long
Private Declare Sub RtlMoveMemory Lib "kernel32" (ByVal Destination As Long, ByVal Source As Long, ByVal Length As Long)
Private Declare Function CallWindowProcW Lib "user32" (ByVal lpPrevWndFunc As Long, ByVal hWnd As Long, ByVal Msg As Long, ByVal wParam As Long, ByVal lParam As Long) As Long
Private CodeAddress As Long
#End If

#If VBA7 Then
Public Function CallAsmCode(ByVal P1 As LongPtr, ByVal P2 As Long, ByVal P3 As LongPtr, ByVal P4 As LongPtr) As LongPtr
    If CodeAddress = 0 Then MakeCode
    CallAsmCode = CallWindowProcW(CodeAddress, P1, P2, P3, P4)
End Function
#Else
Public Function CallAsmCode(ByVal P1 As Long, ByVal P2 As Long, ByVal P3 As Long, ByVal P4 As Long) As Long
    If CodeAddress = 0 Then MakeCode
    CallAsmCode = CallWindowProcW(CodeAddress, P1, P2, P3, P4)
End Function
#End If

Public Sub FreeAsmCode()
    If CodeAddress <> 0 Then
        VirtualFree CodeAddress, 0, MEM_RELEASE
        CodeAddress = 0
    End If
End Sub

' Сверяет разрядность кода и процесса и готовит память кода: байты пишутся в неё,
' пока она доступна для записи, затем она становится доступной для выполнения.
Private Sub MakeCode()
    Dim HostBits As Long
    Dim Digits As String
    Dim Code() As Byte
    Dim i As Long
    Dim OldProtect As Long
#If Win64 Then
    HostBits = 64
#Else
    HostBits = 32
#End If
    If CodeSize = 0 Then Err.Raise vbObjectError + 513, "CallAsmCode", "В модуле нет машинного кода: исходный текст не дал ни одного байта, вызывать нечего."
    If CodeBits = 16 Then Err.Raise vbObjectError + 514, "CallAsmCode", "Код собран как 16-битный (в исходном тексте нет директивы bits 32 или bits 64), а процесс " & HostBits & "-битный: вызвать код нельзя. Добавьте в начало исходного текста bits " & HostBits & " и создайте модуль заново."
    If CodeBits = 0 Then Err.Raise vbObjectError + 514, "CallAsmCode", "Разрядность кода неизвестна (в исходном тексте разные директивы bits или bits не с числом): вызвать код нельзя. Оставьте в исходном тексте одну директиву bits " & HostBits & " и создайте модуль заново."
    If CodeBits <> HostBits Then Err.Raise vbObjectError + 515, "CallAsmCode", "Код " & CodeBits & "-битный, а процесс " & HostBits & "-битный: вызвать код здесь нельзя. Для 32-битного Office и VB6 нужен код с bits 32, для 64-битного Office - с bits 64."
    Digits = CodeDigits()
    ReDim Code(CodeSize - 1)
    For i = 0 To CodeSize - 1
        Code(i) = CByte("&H" & Mid$(Digits, 2 * i + 1, 2))
    Next i
    CodeAddress = VirtualAlloc(0, CodeSize, MEM_COMMIT_RESERVE, PAGE_READWRITE)
    If CodeAddress = 0 Then Err.Raise vbObjectError + 516, "CallAsmCode", "Не удалось выделить память для кода (ошибка Windows " & Err.LastDllError & ")."
    RtlMoveMemory CodeAddress, VarPtr(Code(0)), CodeSize
    If VirtualProtect(CodeAddress, CodeSize, PAGE_EXECUTE_READ, OldProtect) = 0 Then
        i = Err.LastDllError
        VirtualFree CodeAddress, 0, MEM_RELEASE
        CodeAddress = 0
        Err.Raise vbObjectError + 516, "CallAsmCode", "Не удалось сделать память кода исполняемой (ошибка Windows " & i & ")."
    End If
End Sub

' HEX строка кода, по две цифры на байт, собранная из частей.
Private Function CodeDigits() As String
    Dim Digits As String
    Dim Pos As Long
    Digits = Space$(2 * CodeSize)
    Pos = 1
    CodeDigits1 Digits, Pos
    CodeDigits = Digits
End Function

Private Sub AddDigits(ByRef Digits As String, ByRef Pos As Long, ByVal Part As String)
    Mid(Digits, Pos, Len(Part)) = Part
    Pos = Pos + Len(Part)
End Sub

Private Sub CodeDigits1(ByRef Digits As String, ByRef Pos As Long)
    AddDigits Digits, Pos, "8B44240403442408C21000"
End Sub
