// The platform seam: everything the portable program asks of an operating system.
//
// The portable folders (app, console, drives, ui, scan, smart, power) call only these functions.
// Each backend folder under platform/ defines one group of them; the executables pick their
// backends at link time:
//   console + input:  win32 (Win32 console), linux (terminal on a screen model), headless (tests)
//   system:           win32, linux (real clock), headless (virtual clock)
//   drives:           win32 (\\.\PhysicalDriveN), linux (block devices, SG_IO), sim (scenario file)
// The shapes follow the Win32 calls the program was written against; the other backends give
// the same observable behaviour.
// Threads: main, clock, ticker, mouse nudge.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// ---------------------------------------------------------------- console screen buffer

using Handle = std::intptr_t;  // console handles; opaque outside the backend

struct Coord {
    std::int16_t X = 0;
    std::int16_t Y = 0;
    friend bool operator==(Coord, Coord) = default;
};

struct Rect {  // inclusive bounds, as SMALL_RECT
    std::int16_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct ScreenBufferInfo {
    Coord Size;            // columns, rows of the buffer
    Coord CursorPosition;  // where the text stream writes next
    std::uint16_t Attribute = 0;
};

struct CursorInfo {
    std::uint32_t Size = 25;  // percent of the cell the cursor fills
    bool Visible = true;
};

enum class StdHandle { Input, Output };

bool AllocateConsole();
Handle GetStandardHandle(StdHandle which);
void SetTitle(const std::string& title);
bool SetInputModeRaw(Handle in);  // no line input, no echo, Ctrl+C as a key
bool SetScreenBufferSize(Handle out, Coord size);
ScreenBufferInfo GetScreenBufferInfo(Handle out);
Coord GetLargestWindowSize(Handle out);
void SetFullScreen(Handle out);  // where the console offers it; otherwise nothing

bool SetCursorPosition(Handle out, Coord pos);  // false, cursor unmoved, outside the buffer
CursorInfo GetCursorInfo(Handle out);
void SetCursorInfo(Handle out, const CursorInfo& info);
void SetTextAttribute(Handle out, std::uint16_t attribute);

// The text stream (the standard output): bytes at the cursor in the current attribute, CR and
// LF as the console treats them, wrapping at the last column and scrolling below the last row.
// Delivered before it returns.
void WriteStream(std::string_view bytes);

// Cell writes: neither read nor move the cursor, ignore the current attribute, stop at the
// end of the buffer. Each returns the number of cells written.
std::uint32_t FillCharacter(Handle out, char c, std::uint32_t count, Coord at);
std::uint32_t FillAttribute(Handle out, std::uint16_t attribute, std::uint32_t count, Coord at);
std::uint32_t WriteCharacters(Handle out, std::string_view chars, Coord at);

// Moves the cells of `scroll` so that its top left lands on `dest`; cells it uncovers take
// `fill` in `fillAttribute`.
void ScrollBuffer(Handle out, Rect scroll, Coord dest, char fill, std::uint16_t fillAttribute);

// ---------------------------------------------------------------- console input

enum : std::uint16_t { KeyEvent = 1 };

struct InputRecord {
    std::uint16_t EventType = 0;  // KeyEvent for keys
    bool KeyDown = false;
    std::uint16_t VirtualKeyCode = 0;
    char AsciiChar = 0;  // 0 for keys without a character
};

void WaitForInput(Handle in);                // blocks until a record is pending
InputRecord ReadInput(Handle in);            // one record; blocks while none is pending
std::uint32_t PendingInputCount(Handle in);  // never blocks
void FlushInput(Handle in);

// ---------------------------------------------------------------- text, time, process

void AnsiToOem(std::string& text);  // Windows-1251 to the console's OEM code page, in place

std::uint32_t TickCount();  // milliseconds, monotonic, wraps at 2^32
// The fine clock that times block reads: PerformanceFrequency() counts a second, monotonic.
std::uint64_t PerformanceCounter();
std::uint64_t PerformanceFrequency();
void SleepMs(std::uint32_t ms);
std::string LocalTimeText();  // time of day in the user's long time format

// The local date and time, and how far local time is ahead of UTC.
struct DateTime {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
    int UtcOffsetMinutes = 0;
};
DateTime LocalDateTime();
void Beep(std::uint32_t frequencyHz, std::uint32_t durationMs);  // returns when the tone ends

void StartThread(void (*procedure)());
void RaisePriority();    // the process high, the calling thread highest
void NudgeIdleTimers();  // user input as far as the system's idle timers are concerned
// Keeps the system from sleeping, or idling into sleep, until ReleaseAwake: during a scan, which
// `why` names ("surface scan of /dev/sda ..."). On Linux a logind inhibitor on the system bus;
// elsewhere nothing (Windows has NudgeIdleTimers). Empty when held or when the backend needs
// none; otherwise why the system may sleep meanwhile. The program goes on either way.
std::string HoldAwake(std::string_view why);
void ReleaseAwake();  // nothing when none is held
bool IsNtPlatform();
// How the user gives the program a screen of 80 x 25, for the line that ends a smaller one.
std::string_view ScreenSizeHint();
std::string ReadStdinLine();
// A line for the standard output (the standard error with `error`), written when the process
// ends through ExitProcess, after the console or terminal is back as it was found.
void SayAtExit(std::string_view line, bool error);
// The name the program's own messages start with: "platenhawk" unless set otherwise before the
// program starts.
void SetProgramName(std::string_view name);
std::string_view ProgramName();
[[noreturn]] void ExitProcess(int code);
// Page-aligned memory of at least `bytes` to read blocks into, kept until the process ends.
std::span<std::uint8_t> ReadBuffer(std::size_t bytes);

// ---------------------------------------------------------------- physical drives

using DriveHandle = std::intptr_t;
inline constexpr DriveHandle InvalidDrive = -1;

enum class DriveAccess {
    Read,     // the surface scan: read access, shared both ways
    Control,  // identity, SMART, spindle: read and write access requested, shared both ways
};

DriveHandle OpenDrive(int number, DriveAccess access);  // \\.\PhysicalDrive<number>
void CloseDrive(DriveHandle drive);

// Reads `buffer.size()` bytes at byte `offset`; returns the bytes delivered, 0 on any failure.
std::uint32_t ReadDrive(DriveHandle drive, std::uint64_t offset, std::span<std::uint8_t> buffer);

// After a read that delivered less than asked: whether the drive has gone away (unplugged, removed,
// its device dead) or now ends before byte `end`, so that the read found no drive rather than a
// damaged surface.
bool DriveGone(DriveHandle drive, std::uint64_t end);

// A device-control request as DeviceIoControl takes it: the control code, the input record and
// the output record. The records are the Win32 ones, built by platform/drive_records.h.
bool DriveControl(DriveHandle drive, std::uint32_t code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

// The device drive `number` stands for (\\.\PhysicalDrive0, /dev/sda, sim:0); empty for none.
std::string DrivePath(int number);
// The drive number of a device path as DrivePath gives it (or one leading to it); -1 for none,
// and then DriveProbeNotes may hold a "PATH: reason" line that says why. The Linux backend also
// numbers any other block device named this way (a partition, loop, md or device-mapper device).
int DriveNumberOfPath(const std::string& path);
// Why drives did not open or answer, as "DEVICE: reason" lines, from the latest attempts.
std::vector<std::string> DriveProbeNotes();
// What the system adds to the identity of drive `number` just read, one sentence each: a virtual
// disk's bus, a size the system and the drive disagree on. Empty for most drives.
std::vector<std::string> DriveRemarks(int number);

// ---------------------------------------------------------------- unattended runs

// Opens the null device on each of the standard input, output and error that is closed, so that
// no file the program opens later takes its place and receives what is meant for it. Called
// first, before anything else is opened.
void OpenStandardStreams();
bool StandardErrorIsTerminal();
// From now on an interrupt (Ctrl+C) or a termination request only raises a flag.
void CatchInterrupts();
bool Interrupted();
// From now on a write to a pipe nobody reads any more fails instead of ending the process.
void IgnoreClosedPipes();

// ---------------------------------------------------------------- ending from outside

// The interactive program's scan: while on, a request from outside to end the process (a
// termination signal, the terminal closing) raises the Interrupted flag instead, so that the scan
// stops and its report is written. Switched off with a request kept, the process ends as that
// request asked, the terminal back as it was found and the lines said at exit written. A request
// by another signal while on ends the process at once.
void DeferEnd(bool on);

// While held (holds nest), a signal that would end or stop the process waits until the last hold
// is released: a report file half-written is finished or removed first.
void HoldSignals();
void ReleaseSignals();

// ---------------------------------------------------------------- report files
//
// The folder of the reports may be shared with other users, hostile ones too: every file is
// created anew under a name nobody can guess, never through a link, written to the disk whole,
// and given its final name by a rename that never replaces anything.

using FileHandle = std::intptr_t;
inline constexpr FileHandle InvalidFile = -1;

// Opens the folder `path`, creating it (0755, with missing folders above it) when missing. The
// calls below work relative to the handle, whatever becomes of the path. InvalidFile and `why`
// when it cannot be used ("not a folder" for a path that is something else).
FileHandle OpenFolder(const std::string& path, std::string& why);
// A new empty file in `folder`, for writing, under a hidden name holding the process id and a
// random part (in `name`); readable by all, as the umask allows.
FileHandle CreateHiddenFile(FileHandle folder, std::string& name, std::string& why);
bool AppendToFile(FileHandle file, std::string_view bytes, std::string& why);
// What was written to a file, or the names of a folder, reach the disk.
bool FlushToDisk(FileHandle file, std::string& why);
void CloseFile(FileHandle file);

enum class RenameOutcome { Done, Taken, Failed };
// Gives the file `from` of `folder` the name `to`, unless that name is taken (by a file, a folder or
// a link, even a dangling one).
RenameOutcome RenameToNewName(FileHandle folder, const std::string& from, const std::string& to, std::string& why);
// Gives the file `from` of `folder` the name `to` in one step, replacing the file that stands
// there, or the link itself, never what a link leads to. False, with `why`, when it cannot (a
// folder has the name).
bool RenameOver(FileHandle folder, const std::string& from, const std::string& to, std::string& why);
// Readable by all and writable by its owner (0644), whatever the umask; where files have no such
// modes, nothing.
bool MakeReadableByAll(FileHandle file, std::string& why);
// Whether anything has the name (a link too); true also when that cannot be told.
bool NameTaken(FileHandle folder, const std::string& name);
// Where the folder opened as `path` is now: `path` while it still leads to that folder; else the
// folder's present path where the system can tell it; else empty (the folder was removed, or
// where it went cannot be told).
std::string FolderPathNow(FileHandle folder, const std::string& path);
void RemoveName(FileHandle folder, const std::string& name);

// ---------------------------------------------------------------- reading report files
//
// Reports are read back from folders others may write to: nothing is followed through a link,
// only regular files are opened, and no open or read waits on a FIFO or a device.

// Opens the existing folder `path` to read its names (never creating it); InvalidFile and `why`.
FileHandle OpenFolderToRead(const std::string& path, std::string& why);
// The folder `name` of `folder`, unless it is a link; InvalidFile and `why`.
FileHandle OpenSubfolder(FileHandle folder, const std::string& name, std::string& why);

enum class EntryKind { File, Folder, Link, Other };
struct FolderEntry {
    std::string Name;
    EntryKind Kind = EntryKind::Other;  // File: a regular file; Other: a FIFO, a device, a socket...
};
// The names of `folder` but "." and "..", in no particular order; false and `why` when it cannot
// be read.
bool ListFolder(FileHandle folder, std::vector<FolderEntry>& entries, std::string& why);
// The regular file `name` of `folder`, for reading, unless it is a link or anything else;
// InvalidFile and `why` ("not a regular file", "a link"...).
FileHandle OpenFileToRead(FileHandle folder, const std::string& name, std::string& why);
// Reads up to `buffer.size()` bytes from where the last read ended: the bytes read, 0 at the end,
// -1 and `why` on a failure.
std::int64_t ReadFromFile(FileHandle file, std::span<std::uint8_t> buffer, std::string& why);

}  // namespace plat
