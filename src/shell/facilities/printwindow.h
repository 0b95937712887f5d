#pragma once

#include <QStringList>
#include <QWidget>

// A window that lines can be printed on, one below the other from the top-left corner, in the
// window's own font and colour. Printed lines are not kept for repainting: restoring the window
// from its minimised state wipes them, and the print position stays where it was. Only the rows
// that fit on the window are kept in memory; what is printed below the bottom edge is not seen.
class PrintWindow : public QWidget {
public:
    explicit PrintWindow(QWidget *parent = nullptr);

    void print(const QString &line);
    // The text drawn in each row from the top, empty where nothing is shown.
    const QStringList &printedRows() const { return m_rows; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int lineHeight() const;

    int m_lineHeight;
    QStringList m_rows;
    qint64 m_printRow = 0;
};
