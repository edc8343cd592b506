// What korvane-cli says of a job's outcome, in English and in Japanese: a sentence per
// outcome, the details the job found (file, sizes, part ID, the command the chip refused
// with its return code, what timed out, the port) and one next step.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/language.h"
#include "common/hex.h"
#include "job/outcome.h"
#include "job/write_bin_file.h"

namespace korvane::cli {

struct OutcomeText {
  JobOutcome outcome;
  const char* sentence;  // UTF-8
  const char* next;      // the next step; empty where there is none
};

// A part ID as korvane-cli shows it, with the part's name, or without one given every
// name the table has for it: "0x0001BC40 (LPC11U35FHN33/401, LPC11U35FBD48/401, ...)".
std::string PartText(uint32_t id, const Part* part);
// The parts an operation takes, by name and ID; for more than three the first three by
// name and how many more, and "the parts of korvane-cli --list-parts" for all of them.
std::string ExpectedText(const std::vector<const Part*>& parts, Language language);

// The table of a language: one entry per outcome of kAllOutcomes, in that order.
const std::vector<OutcomeText>& OutcomeTable(Language language);

// The outcome's sentence, with the boot loader's return code when it refused a command:
// "writing the program failed: SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION (9)".
std::string ShortText(const JobResult& result, Language language);

// What the port's system said, for the details.
struct PortFacts {
  std::string device;   // the device the port name stands for
  std::string cause;    // the system's reason, when the port failed
  bool byHand = false;  // --reset none: no line moves, the user resets the board
};

// The details of a failure, one line each, without indent or line end.
std::vector<std::string> DetailLines(const JobResult& result, Language language,
                                     const PortFacts& port);

// The whole message of a failure: "korvane-cli: ", the board's name when given, and the
// sentence; then each detail and the next step on its own line, indented by two spaces.
std::string FailureText(const JobResult& result, Language language, const PortFacts& port,
                        const std::string& board = "");

// A step of the job as it begins, for a single board on a terminal: "resetting into the
// boot loader (attempt 2 of 5)", "erasing sectors 0-7"; empty for the transfer, which
// the progress bar shows.
std::string StepText(const JobStep& step, Language language);

// The words of korvane-cli's messages in each language; {0}, {1}, ... are filled in.
struct Words {
  const char* file;        // {0} path
  const char* reason;      // {0} the system's reason
  const char* size;        // {0} bytes, {1} the flash's size
  const char* partRead;    // {0} the part ID read
  const char* partAnswer;  // {0} the answer to J
  const char* refused;     // {0} command, {1} return code
  const char* timedOut;    // {0} command, {1} what was awaited
  const char* garbled;     // {0} command, {1} what came, {2} what was awaited
  const char* unsent;      // {0} command
  const char* linesFailed;
  const char* block;       // {0} the exchange, {1} the address
  const char* attempts;    // {0} the exchange, {1} the count
  const char* difference;  // {0} address
  const char* baud;        // {0} the exchange, {1} the rate
  const char* portLine;    // {0} device, {1} the system's reason
  const char* next;        // {0} the next step
  const char* reset;       // {0} attempt, {1} attempts
  const char* handshake;
  const char* erase;  // {0} first sector, {1} last
  const char* restart;
  const char* eraseOne;  // {0} sector
  const char* retry;     // {0} short text, {1} attempt, {2} attempts
  const char* ok;
  const char* finished;       // {0} port, {1} ok / failed / aborted, {2} seconds
  const char* attemptOf;      // {0} attempt, {1} attempts
  const char* attemptsTaken;  // {0} attempts
  const char* attemptNth;     // {0} attempt
  const char* portHeader;
  const char* time;
  const char* result;
  const char* boards;           // {0} count
  const char* summaryOk;        // {0} boards, {1} ok
  const char* summaryNot;       // {0} count, {1} the ports
  const char* holdButton;       // --reset none: what the user does
  const char* crpNext;          // the next step when code read protection refused a command
  const char* resetAgain;       // the whole flash erased, the chip reset again
  const char* holdButtonAgain;  // --reset none: the same, by hand
  const char* erasedSoFar;      // a failure after the whole flash was erased
  const char* noLinesNext;      // the next step when the port cannot move its lines
  const char* byHandNext;       // the next step when no boot loader answered --reset none
  const char* abortedRead;      // --read, --info, --erase-all stopped by the user
  const char* abortedInfo;
  const char* abortedErase;
  const char* startRefused;    // --after go refused under code read protection
  const char* boardWords[10];  // by BoardWord
  const char* serialHeader;    // the summary's column of serial numbers
  const char* portBusyNext;    // the next step when another program holds the port
  const char* portGroupNext;   // the next step when the port's group would let the user in
};

const Words& WordsOf(Language language);

// The text with {0}, {1}, ... replaced by the values.
std::string Fill(const char* text, std::initializer_list<std::string> values);

// The line told before a failed write is tried again: "korvane-cli: <short text>;
// attempt 2 of 3".
std::string RetryText(const JobResult& result, int attempt, int attempts, Language language);

// A board's state in the many-boards lines: waiting, writing, done, failed, aborted...
enum class BoardWord {
  Waiting,
  Reset,
  Handshake,
  Erase,
  Writing,
  WritingVerifying,
  Restart,
  Done,
  Failed,
  Aborted
};
const char* BoardWordText(BoardWord word, Language language);

}  // namespace korvane::cli
