#include "listbox.h"

#include <QApplication>
#include <QHash>
#include <QItemSelectionModel>
#include <QPainter>
#include <QStaticText>
#include <QStyle>
#include <QStyledItemDelegate>

// Draws the rows of a log that takes turns between a few texts. Every row is as wide as the widest
// line held, so that the view measures a single row (all rows have the same height) and still
// scrolls sideways as far as the longest line needs. The texts are laid out once and kept: a busy
// log is repainted many times a second with the same few lines.
class ListBox::Rows : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize hint = QStyledItemDelegate::sizeHint(option, index);
        hint.setWidth(qMax(hint.width(), widest));
        return hint;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem row = option;
        initStyleOption(&row, index);
        const QStaticText &text = laidOut(row.text, row.font);
        row.text.clear();
        const QStyle *style = row.widget ? row.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &row, painter, row.widget);

        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &row, row.widget);
        const int margin =
            style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, row.widget) + 1;
        const QPalette::ColorGroup group =
            row.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        painter->setPen(row.palette.color(group, row.state & QStyle::State_Selected
                                                     ? QPalette::HighlightedText
                                                     : QPalette::Text));
        painter->setFont(row.font);
        painter->drawStaticText(area.left() + margin,
                                area.top() + (area.height() - int(text.size().height())) / 2, text);
    }

    void widen(int width)
    {
        if (width <= widest)
            return;
        widest = width;
        emit sizeHintChanged({});
    }

    int widest = 0;

private:
    const QStaticText &laidOut(const QString &line, const QFont &font) const
    {
        if (font != m_font || m_texts.size() > 64) {
            m_texts.clear();
            m_font = font;
        }
        auto found = m_texts.find(line);
        if (found == m_texts.end()) {
            QStaticText text(line);
            text.setTextFormat(Qt::PlainText);
            text.prepare(QTransform(), font);
            found = m_texts.insert(line, text);
        }
        return *found;
    }

    mutable QFont m_font;
    mutable QHash<QString, QStaticText> m_texts;
};

ListBox::ListBox(int capacity, QWidget *parent)
    : QListWidget(parent)
    , m_capacity(capacity)
    , m_rows(new Rows(this))
{
    setItemDelegate(m_rows);
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideNone);
    m_batch.setSingleShot(true);
    m_batch.setInterval(BatchMs);
    connect(&m_batch, &QTimer::timeout, this, [this] {
        flush();
        measureNewLines();
    });
}

void ListBox::append(const QString &line)
{
    m_pending.append(line);
    flush();
    if (!m_batch.isActive())
        m_batch.start();
}

void ListBox::appendSoon(const QString &line)
{
    m_pending.append(line);
    if (!m_batch.isActive())
        m_batch.start();
}

void ListBox::flush()
{
    m_batch.stop();
    if (m_pending.isEmpty())
        return;
    emit linesAdded(m_pending);
    if (m_pending.size() > m_capacity)
        m_pending.remove(0, m_pending.size() - m_capacity);
    if (keepsItsLines()) {
        m_pending.clear();
        return;
    }
    const int surplus = count() + int(m_pending.size()) - m_capacity;
    if (surplus > 0) {
        m_lines.remove(0, surplus);
        // A current line about to go would hand its place to the next one and scroll the view
        // there and back, repainting the whole list: it goes without a successor instead.
        if (currentRow() >= 0 && currentRow() < surplus)
            selectionModel()->clearCurrentIndex();
        model()->removeRows(0, surplus);
    }
    addItems(m_pending);
    m_lines.append(m_pending);
    m_unmeasured.append(m_pending);
    m_pending.clear();
}

// Whether the full list, its oldest lines dropped for the waiting ones, would read as it does now:
// then removing and adding items would only make the view repaint the same rows.
bool ListBox::keepsItsLines() const
{
    const qsizetype held = m_lines.size(), waiting = m_pending.size();
    if (held != m_capacity || count() != held)
        return false;
    for (qsizetype row = 0; row < held; ++row) {
        const qsizetype from = row + waiting;
        if (m_lines.at(row) != (from < held ? m_lines.at(from) : m_pending.at(from - held)))
            return false;
    }
    return true;
}

// Measuring a text for the first time lays out glyphs it may never have met; it waits for the
// batch, apart from the tick or click that brought the line. The lines of a busy log take turns
// between a few texts: those just measured are not measured again.
void ListBox::measureNewLines()
{
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    for (const QString &line : std::as_const(m_unmeasured)) {
        if (line == m_measured[0] || line == m_measured[1])
            continue;
        m_measured[1] = std::exchange(m_measured[0], line);
        m_rows->widen(fontMetrics().horizontalAdvance(line) + 2 * margin);
    }
    m_unmeasured.clear();
}
