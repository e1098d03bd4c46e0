#ifndef PLATFORM_TERMINAL_PAGER_H
#define PLATFORM_TERMINAL_PAGER_H

#include <string>
#include <vector>

/* A long text read in the terminal a page at a time, then a question
   answered with y or n: an installer's licence. */

enum class PagerKey { UP, DOWN, PAGE_UP, PAGE_DOWN, HOME, END, QUIT, YES, NO };

/* The keys of the pager in the bytes a terminal sends: the arrows, Page
   Up and Page Down, Home and End (in either of the forms terminals send
   them), the space bar and b for a page, j and k or Enter for a line, q,
   y and n. A sequence cut between two reads is finished in the next; other
   keys are passed over. */
class PagerKeys
{
  public:
    std::vector<PagerKey> Decode(const char *bytes, size_t length);

  private:
    std::vector<PagerKey> keys_;
    std::string sequence_;
    bool afterEscape_ = false;
    void EndSequence(char final);
};

/* What the pager shows: the text's lines from top, rows - 1 of them, under
   them a line that says where the reader is, and, once the reader has
   reached the end or pressed q, the question. */
class PagerView
{
  public:
    PagerView(std::vector<std::string> lines, std::string question)
        : lines_(std::move(lines)), question_(std::move(question))
    {
    }

    void SetRows(int rows);
    /* The key taken; true once the question is answered, with the answer
       in accepted. */
    bool Take(PagerKey key, bool &accepted);
    size_t GetTop() const { return top_; }
    bool IsAsking() const { return asking_; }
    const std::vector<std::string> &GetLines() const { return lines_; }
    /* The line under the text: where the reader is, or the question. */
    std::string GetStatus() const;
    size_t GetPage() const { return page_; }
    /* Moves the text by lines, negative towards its start. */
    void MoveBy(long lines);
    void Ask() { asking_ = true; }

  private:
    std::vector<std::string> lines_;
    std::string question_;
    size_t top_ = 0;
    size_t page_ = 1;
    bool asking_ = false;
};

enum class PagerAnswer { ACCEPTED, DECLINED, INTERRUPTED, UNAVAILABLE };

/* Shows text in the terminal of standard error, taking keys from the
   controlling terminal, and asks question at its end. The drawing is put
   in place of what it covered as the box of the windows is: never above
   the line it started on; at the answer only the question and the answer
   stay. Ctrl-C interrupts; a terminal it cannot draw on or take keys from
   gives UNAVAILABLE. Before any other thread is started. */
PagerAnswer RunPager(const std::string &text, const std::string &question);

#endif
