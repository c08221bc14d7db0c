#include "banner/buildlabel.h"

#ifndef TLG_VERSION
#define TLG_VERSION ""
#endif

namespace tlg {

QString ReadFileVersion()
{
    // The program carries its version in the build, where the project's version is set; there
    // is no version resource on this platform.
    return QStringLiteral(TLG_VERSION);
}

BuildLabel::BuildLabel(QWidget* parent) : QLabel(parent)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    setPalette(p);
    Loaded();
}

void BuildLabel::Loaded()
{
    m_versionText = ReadFileVersion();
    setText(m_textCaption2 + QLatin1Char(' ') + m_versionText);
}

} // namespace tlg
