#pragma once
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

namespace tabulon::dialogs {

// One object per question: init() with the asking window, set the inputs, call one show
// operation, read the results when it returned true. Cancelled or failed dialogs return
// false and leave the result fields as they were; nothing here shows a message.
class CommonDialogs {
public:
    void init(QWidget* owner) { m_owner = owner; }

    // These getters cut at the first NUL, as text that came back from a fixed buffer would be.
    QString fileName() const { return cutAtNul(m_fileName); }
    QString fileTitle() const { return cutAtNul(m_fileTitle); }
    QString path() const { return cutAtNul(m_path); }
    QString title() const { return cutAtNul(m_title); }
    QString filter() const { return m_filter; }
    QString defExt() const { return m_defExt; }
    QString fontName() const { return m_fontName; }
    int32_t color() const { return m_color; }  // 0x00BBGGRR
    int16_t fontSize() const { return m_fontSize; }
    bool fontBold() const { return m_fontBold; }
    bool fontItalic() const { return m_fontItalic; }
    bool fontUnderline() const { return m_fontUnderline; }

    void setFileName(const QString& value) { m_fileName = value; }
    void setFileTitle(const QString& value) { m_fileTitle = value; }
    void setPath(const QString& value) { m_path = value; }
    void setTitle(const QString& value) { m_title = value; }
    void setFilter(const QString& value) { m_filter = value; }
    void setDefExt(const QString& value) { m_defExt = value; }
    void setFontName(const QString& value) { m_fontName = value; }
    void setColor(int32_t value) { m_color = value; }
    void setFontSize(int16_t value) { m_fontSize = value; }
    void setFontBold(bool value) { m_fontBold = value; }
    void setFontItalic(bool value) { m_fontItalic = value; }
    void setFontUnderline(bool value) { m_fontUnderline = value; }

    // One existing workbook; always the fixed workbook filter, whatever filter() holds.
    // Starts in path() when that is a folder.
    bool showOpen();
    // One folder; starts in path() when that is a folder; clears fileName and fileTitle on success.
    bool showFolder();
    // Starts in path() (or the program's folder) and changes path() even on cancel.
    bool showSave();
    bool showColor(bool fullOpen);
    bool showFont();
    bool showPrinter();
    bool showPrinterProperties();

    // The fixed filter of showOpen, as offered to the dialog: its description names the
    // patterns it matches.
    static QString workbookFilter();
    // Whether showOpen's filter offers a file of this name.
    static bool matchesWorkbookFilter(const QString& fileName);

private:
    static QString cutAtNul(const QString& text);
    QString startFolder() const;
    void takeChosenFile(const QString& chosen);

    QString m_fileTitle;
    QString m_path;
    QString m_filter;
    QString m_fileName;
    int32_t m_color = 0;
    QString m_title;
    QPointer<QWidget> m_owner;
    QString m_defExt;
    QString m_fontName;
    int16_t m_fontSize = 0;
    bool m_fontBold = false;
    bool m_fontItalic = false;
    bool m_fontUnderline = false;
};

}  // namespace tabulon::dialogs
