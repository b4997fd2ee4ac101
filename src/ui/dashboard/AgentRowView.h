#pragma once

#include "core/texts/LocKey.h"
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

class IconTile;
class KindChip;
class Label;
class SecondaryButton;
class SettingsStore;
class StatusLight;
class SymbolView;

// What the row's state button stands for: "Faulted" (opens the details),
// "Running" (opens the details) or "Launch" (starts the agent).
enum class RowState { faulted, running, launch };

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

  // Its texts are in the language of `settings`, which must outlive it.
  AgentRowView(const DashboardAgentItem& item, const SettingsStore& settings, QWidget* parent = nullptr);
  ~AgentRowView() override;

  const DashboardAgentItem& item() const { return item_; }
  void setItem(const DashboardAgentItem& item);

  bool isHovering() const { return hovering_; }
  // 0 = at rest, 1 = fully hovered; follows the pointer in kHoverMs.
  qreal hoverProgress() const { return hoverProgress_; }
  void setHoverProgress(qreal progress);

  // The state button: a small pill, tinted red (faulted) or green
  // (running), or on the brand gradient (launch).
  SecondaryButton* stateButton() const { return stateButton_; }
  RowState state() const { return state_; }
  StatusLight* statusLight() const { return light_; }
  IconTile* iconTile() const { return iconTile_; }
  KindChip* kindChip() const { return chip_; }
  SymbolView* lockMark() const { return lock_; }
  Label* nameLabel() const { return name_; }

  // The card's drop shadow (light scheme only), drawn by the list under the
  // card whose top-left corner is at `origin`.
  void paintShadow(QPainter& painter, QPointF origin) const;
  // How far the shadow reaches beyond the card, at most, on every side.
  static int shadowReach() { return 30; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

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

  QString text(LocKey::Id id) const;

  DashboardAgentItem item_;
  const SettingsStore& settings_;
  bool hovering_ = false;
  bool pressed_ = false;
  qreal hoverProgress_ = 0;
  QVariantAnimation* hoverAnimation_;

  QWidget* lightSlot_;
  StatusLight* light_;
  IconTile* iconTile_;
  Label* name_;
  KindChip* chip_;
  SymbolView* lock_;
  SecondaryButton* stateButton_;
  RowState state_ = RowState::launch;
  QWidget* infoSlot_;

  // The card as last painted at rest, and what it depended on.
  struct CardKey {
    QSize size;
    qreal dpr = 0;
    bool dark = false;
    bool hovered = false;
    bool faulted = false;
    RowState button = RowState::launch;
    QRect buttonRect, tileRect, infoRect;
    bool operator==(const CardKey&) const = default;
  };
  CardKey cardKey_;
  QPixmap cardCache_;
};

}  // namespace tlr
