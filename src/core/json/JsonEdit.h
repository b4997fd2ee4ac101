#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Edits of a JSON file that belongs to someone else, made where they apply:
// every byte the edit does not need to change stays as the file has it (a
// byte order mark, CRLF line ends, tabs, escapes such as "\u00e9" and "\/",
// arrays on one line, the order of members).
namespace tlr::JsonEdit {

// `document` with the text `value` set at `keys`, from the outermost object
// inward. The old value's bytes are replaced by the new value's; a missing
// member is added after the last member of its object, spaced as that member
// is from what precedes it (on a line of its own, indented alike, when it
// stands on one); a value of another kind in the way of a deeper key is
// replaced by an object. A repeated key is changed where its last value
// stands (the one a reader keeps). No keys: `document` unchanged. Nothing
// when `document` is not valid JSON holding an object.
std::optional<QByteArray> setString(const QByteArray& document, const QStringList& keys, const QString& value);

}  // namespace tlr::JsonEdit
