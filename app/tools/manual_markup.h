#pragma once
// The text source of the user's manuals (assets/manual/<language>.txt) and its reader.
//
// The source is UTF-8 (a byte-order mark is skipped, CR LF or LF line ends). Its markup:
//
//   // a comment line                     (left out)
//   @title QUIRVEL                        title page: the product name
//   @subtitle User's Manual               title page: what the document is
//   @line Quality control of ...          title page: a line of its own (repeatable)
//   @version Version {version}            title page: the program version ({version} is
//                                         filled in by the writer)
//   @contents Contents                    a table of contents under this heading
//   @footer QUIRVEL User's Manual         left of every page footer
//   @page Page {page} of {pages}          right of every page footer
//
//   # Chapter                             headings of three levels, numbered 1, 1.1, 1.1.1;
//   ## Section                            a chapter starts a new page
//   ### Subsection
//
//   Running text. Lines of a paragraph    a blank line ends a paragraph; a line ending in
//   are joined with a blank.              a single backslash breaks the line there
//
//   - a bullet item                       list items; an item continues on lines indented
//     continued here                      by at least two blanks
//   1. a numbered item
//
//   > A note, set apart in a box.         consecutive ">" lines form one note
//
//   | Column | Column |                   a table: the first row is the heading row, a row
//   |--------|--------|                   of dashes is left out, every row has as many
//   | cell   | cell   |                   cells as the heading row
//
// Inline: **bold**, __italic__, `code` (printed in a fixed-width face, no markup inside), and
// [[Heading title]], which becomes the number of the heading with that title ("see section
// [[Zoom]]" prints "see section 5.2"), so that references follow when chapters move.
// A backslash takes the next character literally: \* \_ \` \| \# \- \> \@ \/ \[ \\.
//
// The manuals are printed through the 8-bit text of the PDF writer's simple fonts, so every
// character must exist in Windows-1252 (all Western European letters, µ ° ² ± Ø, the dashes
// and typographic quotes). Anything else is refused with its line, as is any other mistake
// of the markup: an unreadable manual is never written.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace app::manual {

// A mistake in a source, with the line it was found on (1-based).
class SourceError : public std::runtime_error {
 public:
  SourceError(const std::string& source_name, int line, const std::string& message);
  int line() const { return line_; }

 private:
  int line_;
};

// A run of text in one style. Text is UTF-8; "\n" inside it is a forced line break.
struct Span {
  std::string text;
  bool bold = false;
  bool italic = false;
  bool code = false;
  bool operator==(const Span&) const = default;
};
using Inline = std::vector<Span>;

enum class BlockKind { Heading, Paragraph, Bullet, Numbered, Note, Table };

struct Block {
  BlockKind kind = BlockKind::Paragraph;
  int line = 0;         // where the block starts in the source
  int level = 0;        // headings: 1, 2 or 3
  std::string number;   // headings: "2.1"; numbered items: the number as written ("3")
  Inline text;          // everything but tables
  std::vector<std::vector<Inline>> rows;  // tables: the heading row first
};

struct Source {
  std::string title;
  std::string subtitle;
  std::vector<std::string> title_lines;
  std::string version;   // template with {version}; empty: no version line
  std::string contents;  // heading of the table of contents; empty: none
  std::string footer;
  std::string page = "{page} / {pages}";
  std::vector<Block> blocks;
};

// Reads a whole source; name is what errors call it (usually its file name).
Source ParseSource(std::string_view text, const std::string& name);

// The plain text of a run of spans (for outlines, contents lines and tests).
std::string PlainText(const Inline& text);

}  // namespace app::manual
