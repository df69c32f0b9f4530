' Walks the manager's format collections the way a script client does:
' late-bound, through the registered type library.
Option Explicit

Sub Walk(title, formats)
    Dim i, f
    WScript.Echo title & " " & formats.Count
    For i = 0 To formats.Count - 1
        Set f = formats.FileFormat(i)
        WScript.Echo f.ID & "|" & f.Name & "|" & f.DefaultExtention & "|" & f.Extentions & "|" & f.IsComplex
    Next
End Sub

Dim manager, converter
Set manager = CreateObject("Vembro.FileTranslateManager")
Walk "sources", manager.ConvertSourceFormats
Walk "targets", manager.ConvertTargetFormats("Alpha")
Walk "byext", manager.ConvertSourceFormats.FileFormatFromExt("AA")
Set converter = manager.Converter("Alpha", 2)
WScript.Echo "converter " & IsObject(converter) & " " & (converter Is Nothing)
WScript.Quit 0
