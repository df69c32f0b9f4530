// Walks the manager's format collections the way a script client does:
// late-bound, through the registered type library.
function walk(title, formats) {
    WScript.Echo(title + " " + formats.Count);
    for (var i = 0; i < formats.Count; i++) {
        var f = formats.FileFormat(i);
        WScript.Echo([f.ID, f.Name, f.DefaultExtention, f.Extentions, f.IsComplex].join("|"));
    }
}

var manager = new ActiveXObject("Vembro.FileTranslateManager");
walk("sources", manager.ConvertSourceFormats);
walk("targets", manager.ConvertTargetFormats(1));
walk("byext", manager.ConvertSourceFormats.FileFormatFromExt("AA"));
var converter = manager.Converter(1, 2);
WScript.Echo("converter " + typeof converter + " " + (converter === null));
WScript.Quit(0);
