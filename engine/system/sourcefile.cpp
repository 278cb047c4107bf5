#include "system/sourcefile.h"

#include "system/files.h"
#include "system/outcome.h"
#include "system/platform.h"

#include <QFile>
#include <QFileInfo>

SourceText SourceFromBytes(QByteArrayView bytes) {
    SourceText source;
    source.unedited = bytes.toByteArray();
    source.text = codepage::Decode(bytes);
    if (!source.text.contains(QLatin1StringView("\r\n")) && source.text.contains(QLatin1Char('\n')))
        source.lineBreak = QStringLiteral("\n");
    source.text.replace(QLatin1StringView("\r\n"), QLatin1StringView("\n"));
    return source;
}

codepage::Encoded SourceToBytes(const SourceText &source) {
    if (!source.unedited.isEmpty()) {
        codepage::Encoded encoded{source.unedited};
        if (!source.unedited.endsWith('\n') && !source.unedited.endsWith('\r'))
            encoded.bytes += source.lineBreak.toLatin1();
        return encoded;
    }
    QString text = source.text;
    if (!text.endsWith(QLatin1Char('\n'))) text += QLatin1Char('\n');
    if (source.lineBreak != QLatin1StringView("\n")) text.replace(QLatin1Char('\n'), source.lineBreak);
    return codepage::Encode(text);
}

SourceRead ReadSourceFile(const QString &path, bool createMissing) {
    if (createMissing && !QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        QFile file(path);
        errno = 0;
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            return {{}, FileErrorMessage(QStringLiteral("создать файл"), path, platform::LastError())};
        }
    }
    const FileRead read = ReadWholeFile(path);
    if (!read.ok()) return {{}, read.error};
    return {SourceFromBytes(read.bytes), {}};
}

SaveResult SaveSourceFile(const QString &path, const SourceText &source) {
    const codepage::Encoded encoded = SourceToBytes(source);
    if (!encoded.ok()) return {EncodingErrorTitle(), codepage::UnrepresentableMessage(encoded), {}};
    WriteOptions options;
    options.directFallback = true;  // a writable file in a folder that takes no new file
    const QString error = WriteFileAtomically(path, encoded.bytes, options);
    if (!error.isEmpty()) return {FileErrorTitle(), error, {}};
    return {{}, {}, encoded.bytes};
}
