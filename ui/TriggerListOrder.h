#pragma once

#include "triggers/Vocabulary.h"

namespace hushwell {

class TriggerList;

// Reordering of the editor's working list: sorting each kind by a column, and moving one
// record within its kind. Only active records move, among the places active records hold;
// every record keeps its fields, serial id included. Both take the list's lock.
class TriggerListOrder {
public:
    enum class Direction { Descending, Ascending };

    // Sorts each kind separately by a column of the list: 0 the name (UTF-16 code units, a
    // proper prefix first), 1 the trigger (sound file text, time of day in seconds, level),
    // 2 the action text. Records with equal keys keep their order.
    static void SortByColumn(TriggerList& list, int column, Direction direction);

    // Moves the active record at `from` to the active position `to` of the same kind; the
    // records between shift by one. Positions out of range change nothing.
    static void MoveWithinKind(TriggerList& list, TriggerKind kind, int from, int to);
};

}  // namespace hushwell
