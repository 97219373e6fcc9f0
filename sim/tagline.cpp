#include "tagline.h"

#include "unit.h"

#include <QtEndian>

namespace {

// A decimal number from 0 to `maximum`; -1 for anything else.
int number(const QByteArray &text, int maximum)
{
    const int value = text.size() <= 7 && isDecimal(text) ? text.toInt() : -1;
    return value <= maximum ? value : -1;
}

} // namespace

bool TagLine::start(const QList<QByteArray> &arguments)
{
    const int newPresent = number(arguments.value(0), mostCommands);
    const int newGap = number(arguments.value(1), mostCommands);
    QList<int> newIds;
    for (const QByteArray &argument : arguments.mid(2)) {
        newIds.append(number(argument, largestId));
    }
    if (newPresent < 0 || newGap < 0 || newIds.isEmpty() || newIds.size() > mostTags ||
        newIds.contains(-1) || newIds.contains(0)) {
        return false;
    }
    playing = true;
    present = newPresent;
    gap = newGap;
    ids = newIds;
    contents.clear();
    enter(0);
    return true;
}

// The tag at `index` comes into the field; one that comes for the first time holds its ID in
// page 0, big-endian, and zeros elsewhere.
void TagLine::enter(int index)
{
    position = index;
    inGap = false;
    left = present;
    if (position < ids.size() && !contents.contains(ids.at(position))) {
        QByteArray tag(Unit::tagSize, '\0');
        qToBigEndian<quint64>(ids.at(position), tag.data());
        contents.insert(ids.at(position), tag);
    }
}

QByteArray *TagLine::tagInField()
{
    const bool inField = !inGap && position < ids.size();
    return inField ? &contents[ids.at(position)] : nullptr;
}

void TagLine::commandAnswered()
{
    // A tag present for good, and the empty field after the last gap, never change.
    if (!playing || position == ids.size() || (!inGap && present == 0)) {
        return;
    }
    if (--left > 0) {
        return;
    }
    if (!inGap && gap > 0) {
        inGap = true;
        left = gap;
        return;
    }
    enter(position + 1);
}

QByteArray TagLine::status() const
{
    if (!playing) {
        return "off";
    }
    if (position == ids.size()) {
        return "done";
    }
    const QByteArray count = !inGap && present == 0 ? "forever" : QByteArray::number(left);
    return (inGap ? QByteArray("empty") : "tag=" + QByteArray::number(ids.at(position))) +
           " left=" + count;
}

const QByteArray *TagLine::content(int id) const
{
    const auto found = contents.constFind(id);
    return found == contents.constEnd() ? nullptr : &found.value();
}
