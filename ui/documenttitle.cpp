#include "documenttitle.h"

#include "products/docpath.h"

QString TitlePrefix() {
    return QStringLiteral("Orvandine Converter - ");
}

QString NewFileTitle() {
    return TitleFor(UntitledName());
}

QString TitleFor(const QString &documentPath) {
    return TitlePrefix() + documentPath;
}

QString DocumentPathOf(const QString &title) {
    return title.mid(TitlePrefix().size());
}
