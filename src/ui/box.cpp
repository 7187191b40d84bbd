// The frame both boxes share (ui/box.h).
// Thread: main.
#include "ui/box.h"

#include <string>

#include "console/output.h"

void DrawBoxRule(int row, char left, char fill, char right) {
    SetCursor(BoxColumn, row);
    SetColor(clWhiteOnBlue);
    const std::string rule(BoxInner, fill);
    WriteRaw({" ", left, std::string_view(rule), right, " "});
}

void DrawBoxEdges(int row) {
    SetCursor(BoxColumn, row);
    SetColor(clWhiteOnBlue);
    WriteRaw({" ", '\xBA'});
}

void CloseBoxRow() {
    SetColor(clWhiteOnBlue);
    WriteRaw({'\xBA', " "});
}

void DrawEmptyBoxRow(int row) {
    DrawBoxEdges(row);
    WriteBlanks(BoxInner);
    CloseBoxRow();
}

void DrawKeyLine(int row, std::string_view key1, std::string_view text1, std::string_view key2,
                 std::string_view text2) {
    DrawBoxEdges(row);
    SetColor(clYellowOnBlue);
    WriteRaw({key1});
    SetColor(clWhiteOnBlue);
    WriteText(text1);
    SetColor(clYellowOnBlue);
    WriteRaw({key2});
    SetColor(clWhiteOnBlue);
    WriteText(text2);
    CloseBoxRow();
}
