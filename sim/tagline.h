#ifndef VORSEL_SIM_TAGLINE_H
#define VORSEL_SIM_TAGLINE_H

#include <QByteArray>
#include <QHash>
#include <QList>

// Tags that pass the antenna one after another, as on a production line: each stays in the field
// for a number of answered commands, then the field is empty for a number of them, then the next
// tag comes. Each tag keeps what was written to it, so one that comes back holds it again.
class TagLine
{
public:
    static constexpr int mostCommands = 1000000;
    static constexpr int largestId = 999999;
    static constexpr int mostTags = 10000;

    // Starts a line from the arguments of "pass PRESENT GAP ID...": PRESENT 0 keeps the first
    // tag in the field for good. False, changing nothing, for arguments it does not take.
    bool start(const QList<QByteArray> &arguments);
    // The unit's own tag is in the field again; the tags that passed stay readable.
    void stop() { playing = false; }
    bool isPlaying() const { return playing; }
    // The content of the tag in the field; nullptr while the field is empty.
    QByteArray *tagInField();
    // One command was answered: the tag in the field, or the gap, has one command less left.
    void commandAnswered();
    // "off", "tag=ID left=N" ("left=forever"), "empty left=N" or "done".
    QByteArray status() const;
    // The content of a tag of this line that has come into the field; nullptr for another.
    const QByteArray *content(int id) const;

private:
    void enter(int index);

    bool playing = false;
    int present = 0;
    int gap = 0;
    QList<int> ids;
    // The tag in the field, or the one whose gap it is; ids.size() once all have passed.
    int position = 0;
    bool inGap = false;
    int left = 0;
    QHash<int, QByteArray> contents;
};

#endif
