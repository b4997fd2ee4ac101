#pragma once

#include <QHash>
#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace tlr {

class AgentRowView;

// One of the four metric cards under the hero: a title (no arrow: a card
// leads nowhere), a count and a sub-line. The highlighted card sits on the
// brand gradient with white texts.
class MetricCard final : public QWidget {
  Q_OBJECT

 public:
  explicit MetricCard(bool highlight, QWidget* parent = nullptr);

  void setContent(const QString& title, int value, const QString& subtitle);
  const QString& title() const { return title_; }
  int value() const { return value_; }
  // The count as shown: a plain decimal integer.
  QString valueText() const { return QString::number(value_); }
  const QString& subtitle() const { return subtitle_; }
  bool isHighlighted() const { return highlight_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool highlight_;
  bool painted_ = false;
  QString title_;
  int value_ = 0;
  QString subtitle_;
};

// The list of agent rows inside the live-status panel. It paints the rows'
// drop shadows, which reach beyond each card, under them.
class AgentRowList final : public QWidget {
  Q_OBJECT

 public:
  explicit AgentRowList(QWidget* parent = nullptr);
  QVBoxLayout* rowLayout() const { return layout_; }
  // Rows in display order.
  QList<AgentRowView*> rows() const;
  void adopt(AgentRowView* row);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QVBoxLayout* layout_;
};

// The row of metric cards; paints the highlighted card's glow under it.
class MetricsRow final : public QWidget {
  Q_OBJECT

 public:
  explicit MetricsRow(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tlr
