#pragma once

#include "presentation/DashboardAgentItem.h"
#include "ui/kit/AgentIconResolver.h"

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QVariantAnimation;

namespace tlr {

class Label;
class RowLight;

// The row's state button: "Faulted" (opens the details), "Running" (opens
// the details) or "Launch" (starts the agent), painted as a small pill.
class RowStateButton final : public QAbstractButton {
  Q_OBJECT

 public:
  enum class Kind { faulted, running, launch };

  explicit RowStateButton(QWidget* parent = nullptr);
  Kind kind() const { return kind_; }
  // Sets what the button shows; the label is also its accessible name.
  void setState(Kind kind, const QString& label, const QString& tooltip);
  QSize sizeHint() const override;
  // The face's symbol ("exclamationmark.triangle.fill", "checkmark", "play.fill").
  QString symbolName() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Kind kind_ = Kind::launch;
};

// The small kind chip after the name ("App", "CLI", "Plugin"/"插件").
class KindChip final : public QWidget {
  Q_OBJECT

 public:
  explicit KindChip(QWidget* parent = nullptr);
  void setText(const QString& text);
  const QString& text() const { return text_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

// The amber lock after the name of an agent locked online.
class LockMark final : public QWidget {
  Q_OBJECT

 public:
  explicit LockMark(QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The agent's icon in a 34-point tile: an application icon fills it, a
// resource image is inset by 6, nothing found shows a grey placeholder.
class AgentIconTile final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSide = 34;
  explicit AgentIconTile(QWidget* parent = nullptr);
  void setIcon(std::optional<AgentIconResolver::Resolved> icon);
  const std::optional<AgentIconResolver::Resolved>& icon() const { return icon_; }
  QSize sizeHint() const override { return {kSide, kSide}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<AgentIconResolver::Resolved> icon_;
};

// One row of the dashboard's live-status list: an installed agent as a
// rounded card with its status light, icon, name, kind chip and lock mark,
// the state button and an information symbol.
//
// A click anywhere on the card outside the state button emits tapped(); the
// state button emits tapped() (running or faulted agent) or
// launchRequested() (stopped agent), never both. The row changes nothing
// itself. setItem() redraws it for a new record and keeps its hover state
// and its light's animation. The list that holds the rows paints their drop
// shadows (paintShadow()), which reach beyond the card.
class AgentRowView final : public QWidget {
  Q_OBJECT
  Q_PROPERTY(qreal hoverProgress READ hoverProgress WRITE setHoverProgress)

 public:
  static constexpr int kMinHeight = 64;
  static constexpr int kHoverMs = 180;

  explicit AgentRowView(const DashboardAgentItem& item, QWidget* parent = nullptr);
  ~AgentRowView() override;

  const DashboardAgentItem& item() const { return item_; }
  void setItem(const DashboardAgentItem& item);

  // The dashboard supplies it when the agent offers a setup; the row only
  // holds it (no element of the row calls it).
  void setOnSetup(std::function<void()> onSetup) { onSetup_ = std::move(onSetup); }
  bool hasSetupAction() const { return static_cast<bool>(onSetup_); }

  bool isHovering() const { return hovering_; }
  // 0 = at rest, 1 = fully hovered; follows the pointer in kHoverMs.
  qreal hoverProgress() const { return hoverProgress_; }
  void setHoverProgress(qreal progress);

  RowStateButton* stateButton() const { return stateButton_; }
  RowLight* statusLight() const { return light_; }
  AgentIconTile* iconTile() const { return iconTile_; }
  KindChip* kindChip() const { return chip_; }
  LockMark* lockMark() const { return lock_; }
  Label* nameLabel() const { return name_; }

  // The card's drop shadow (light scheme only), drawn by the list under the
  // card whose top-left corner is at `origin`.
  void paintShadow(QPainter& painter, QPointF origin) const;
  // How far the shadow reaches beyond the card, at most, on every side.
  static int shadowReach() { return 30; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 Q_SIGNALS:
  void tapped();
  void launchRequested();
  void hoverProgressChanged(qreal progress);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void applyItem();
  void paintCard(QPainter& painter) const;
  void setHovering(bool hovering);
  void placeLight();

  DashboardAgentItem item_;
  std::function<void()> onSetup_;
  bool hovering_ = false;
  bool pressed_ = false;
  qreal hoverProgress_ = 0;
  QVariantAnimation* hoverAnimation_;

  QWidget* lightSlot_;
  RowLight* light_;
  AgentIconTile* iconTile_;
  Label* name_;
  KindChip* chip_;
  LockMark* lock_;
  RowStateButton* stateButton_;
  QWidget* infoSlot_;

  // The card as last painted at rest, and what it depended on.
  struct CardKey {
    QSize size;
    qreal dpr = 0;
    bool dark = false;
    bool hovered = false;
    bool faulted = false;
    RowStateButton::Kind button = RowStateButton::Kind::launch;
    QRect buttonRect, tileRect, infoRect;
    bool operator==(const CardKey&) const = default;
  };
  CardKey cardKey_;
  QPixmap cardCache_;
};

}  // namespace tlr
