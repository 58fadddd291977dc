// richlogbench [LINES] [SMALL_BATCH] [LARGE_BATCH]
// What the compression window's message box costs the user-interface thread:
// LINES "Adding <path>" lines go into a shown rich-edit log of the window's
// size, once in batches of SMALL_BATCH lines and once in batches of
// LARGE_BATCH, each batch one insertion followed by its repaint. The two
// timings give the cost of a line and of a batch; then the log's destruction.
#include "BenchUtil.h"
#include "framework/Forms.h"
#include "framework/RichLog.h"
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace krv;

namespace {

void Pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

struct TTiming {
    double fill = 0, destroy = 0;
};

// Fills a fresh shown log with lines in batches; seconds for the filling and the destruction.
TTiming Fill(int lines, int batch) {
    TTiming t;
    auto form = std::make_unique<TForm>();
    form->SetBounds(100, 100, 480, 330);
    TRichLog* log = PlaceControl(new TRichLog(form.get()), form.get(), "Log", 12, 112, 450, 140);
    form->Show();
    log->AddLine("Files checked.", clBlack);
    Pump();
    const double start = bench::Now();
    for (int done = 0; done < lines;) {
        std::string text;
        for (int i = 0; i < batch && done < lines; ++i, ++done) {
            if (!text.empty()) text += "\r\n";
            text += Format("Adding C:\\backup-source\\many\\d%02d\\sub%d\\f%03d.txt", done / 56, done % 3, done % 56);
        }
        log->AddLine(text, clBlack);
        Pump();
    }
    t.fill = bench::Now() - start;
    // Hidden first, as a modal window is when it ends.
    form->Hide();
    Pump();
    const double destroyStart = bench::Now();
    form.reset();
    t.destroy = bench::Now() - destroyStart;
    return t;
}

} // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 2242;
    const int small = argc > 2 ? std::atoi(argv[2]) : 20;
    const int large = argc > 3 ? std::atoi(argv[3]) : 250;
    if (lines <= 0 || small <= 0 || large <= small) {
        std::fprintf(stderr, "usage: richlogbench [LINES] [SMALL_BATCH] [LARGE_BATCH > SMALL_BATCH]\n");
        return 2;
    }
    Application().Initialize();
    Fill(200, 50);   // loads the control's library and fonts
    const TTiming a = Fill(lines, small), b = Fill(lines, large);
    const double batchesA = (lines + small - 1) / small, batchesB = (lines + large - 1) / large;
    const double perBatch = (a.fill - b.fill) / (batchesA - batchesB);
    const double perLine = (b.fill - batchesB * perBatch) / lines;
    std::printf("%d lines in batches of %d: %.1f ms; of %d: %.1f ms\n", lines, small, a.fill * 1e3, large, b.fill * 1e3);
    std::printf("a line: %.3f ms, a batch: %.2f ms\n", perLine * 1e3, perBatch * 1e3);
    std::printf("destroying the log: %.1f ms\n", (a.destroy + b.destroy) / 2 * 1e3);
    return 0;
}
