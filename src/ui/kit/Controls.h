#pragma once

// The painted pieces the windows repeat, one include for all of them. Each
// follows the scheme in effect and repaints when it or the language changes;
// each shows its text as plain text (never markup, "&" shown as it is, no
// mnemonic) and exposes its visible text as its accessible name. Sizes are
// logical pixels.
//
// ControlBasics.h   what they share: TextRole and roleColor(), the focus
//                   ring, the keys of a button (KeyboardButton), the opacity
//                   of a control that cannot be used
// Labels.h
//   Label            plain-text label in a role colour and font
//   SectionTitle     a section's title: 10.5 semibold, letter spacing 1.2,
//                    faint colour, upper case (Chinese is unaffected)
//   KindChip         a word in a small rounded chip (an agent's kind)
// Panels.h
//   Card             rounded card (radius 10) in the card colour with a
//                    hairline border, or a fill and edge of its own; lay its
//                    contents out in its layout
//   TintedPanel      a rounded panel tinted with a colour (banners)
//   PanelButton      a tinted panel that is a button
//   Divider          a 1-pixel line: the separator under a sheet's header,
//                    or of a strength of its own (inside cards, lists, rows)
// Buttons.h
//   PrimaryButton    white label (and optional symbol) on the brand gradient
//                    or one colour, radius 8, padding 14 × 8 (filled actions)
//   SecondaryButton  label and symbol in a colour on that colour at 0.15,
//                    with a 0.3 edge; tints, edges and measures of its own
//                    where a window's design gives them (the tinted actions,
//                    outlined section buttons, fixes, a row's state)
//   PillButton       a choice among several: brand gradient when selected,
//                    card colour with a hairline otherwise
//   CloseButton      the "xmark" in a 24 × 24 circle (sheet headers), named
//                    "Close" in the interface language
//   IconButton       a symbol centred in a square tile (toolbars)
//   LinkButton       text alone: underlined accent text (legal links) or
//                    plain text in a role colour (Cancel, Close)
// Toggles.h
//   ToggleSwitch     an on/off switch
//   CheckBox         a square box, filled with a check mark when on
// Pictures.h
//   SymbolView       one symbol of Glyphs, in a role colour, a fixed one or
//                    one that follows the scheme
//   IconTile         a picture framed in a rounded tile (an agent's icon)
// ScrollArea.h
//   ScrollArea       a column that scrolls up and down, never sideways, and
//                    keeps the focused control in view
// Spinner.h
//   Spinner          an indeterminate progress indicator of twelve spokes
//
// Buttons report clicks through QAbstractButton::clicked. Their text is set
// with setLabel(); label() returns it unchanged. A painted button may be
// busy: a spinner then stands in its symbol's place. The on/off controls
// (ToggleSwitch, CheckBox) report their state through toggled(bool): see
// ToggleControl.

#include "ui/kit/Buttons.h"
#include "ui/kit/ControlBasics.h"
#include "ui/kit/Labels.h"
#include "ui/kit/Panels.h"
#include "ui/kit/Pictures.h"
#include "ui/kit/ScrollArea.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Toggles.h"
