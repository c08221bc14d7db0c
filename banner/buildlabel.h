#pragma once

// A label that shows a word and the program's version: "Build 0.9.0.76".

#include <QLabel>

namespace tlg {

// The program's version as the build gives it ("0.9.0.76"); empty when the build gives none.
QString ReadFileVersion();

class BuildLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString TextCaption2 READ textCaption2 WRITE setTextCaption2)

public:
    // Blue, with the word "Build", the caption "Build " and the version.
    explicit BuildLabel(QWidget* parent = nullptr);

    // The word in front of the version. Setting it only stores it: the caption follows at the
    // next Loaded().
    QString textCaption2() const { return m_textCaption2; }
    void setTextCaption2(const QString& word) { m_textCaption2 = word; }

    // The end of loading, once the owner has set the properties: reads the version again and
    // sets the caption to TextCaption2, a blank and the version.
    void Loaded();

    QString versionText() const { return m_versionText; }

private:
    QString m_textCaption2 = QStringLiteral("Build");
    QString m_versionText;
};

} // namespace tlg
