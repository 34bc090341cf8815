// Failures: the one exception type of the product, and the trap that turns a failure
// inside a numbered step into the "Application Error" box and carries on.
#pragma once

#include <QString>

#include <atomic>
#include <exception>
#include <functional>
#include <stdexcept>

namespace parvello {

class Prompts;

// A failure with a one-line description. `number` identifies the few failures that
// callers test for (for instance the open-file dialog's "selection too long").
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& description, int number = 0);
    const QString& description() const { return description_; }
    int number() const { return number_; }

private:
    QString description_;
    int number_;
};

// Failure numbers that callers recognise.
namespace failure_numbers {
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int PermissionDenied = 70;
inline constexpr int FileChanged = 75; // a file changed while it was being processed
inline constexpr int FileInUse = 74;   // another program was writing a file being processed
inline constexpr int PathNotFound = 76;
inline constexpr int InvalidArgument = 5;
inline constexpr int SelectionTooLong = 20476;
} // namespace failure_numbers

// The description of any exception caught by a trap.
QString DescribeFailure(std::exception_ptr failure);

// The full text of the "Application Error" box: description, CR LF, "in <tag> at line <n>",
// CR CR, and the request to send a screenshot to the support address.
QString ErrorBoxText(const QString& description, const QString& locationTag, int line);

// Shows the "Application Error" box for a failure that happened elsewhere (a step of a file's
// processing, say) at the given tag and line, as a trap there would have shown it.
void ShowErrorBox(Prompts& prompts, const QString& locationTag, int line,
                  const QString& description);

// Every location tag is the project word and date, the module and the procedure.
QString FormTag(const QString& procedure); // "Qwellan2021/08/31.Form1.<procedure>"
QString ModuleTag(const QString& module, const QString& procedure); // "Qwellan2021/08/31.<m>.<p>"

// The failure trap of one procedure. Each numbered step runs through step() or test();
// a failure in it shows the "Application Error" box with the tag and the step's line,
// and the procedure goes on with the next step. A failed condition test counts as
// passed, so the steps it guards run next.
//
// The step numbers are the line numbers users see in that box and quote when they report
// a failure: each trapped procedure names them in a table beside it (FooLines::Bar), and
// they never change. A step with an empty body stands for a line that has nothing to do
// here; it stays so that the numbering, and a fault injected there by tests, stay whole.
//
// While a trap is alive it is the "active" one: a handler without a trap of its own that
// runs synchronously inside a step (a change handler raised by setting a control's text,
// say) hands its failure to the active trap instead of showing its own box, so the
// failure is reported by the trapped caller with the line of the call.
class Trap {
public:
    Trap(Prompts& prompts, QString locationTag);
    ~Trap();
    Trap(const Trap&) = delete;
    Trap& operator=(const Trap&) = delete;

    template <class F> void step(int line, F&& body) {
        line_ = line;
        try {
            injectFault();
            body();
            if (pending_) // a trap-less handler run by the body left its failure here
                rethrowPending();
        } catch (...) {
            report(std::current_exception());
        }
    }

    // Runs a condition test. A failure in it is reported and counts as true.
    template <class F> bool test(int line, F&& condition) {
        line_ = line;
        try {
            injectFault();
            const bool result = condition();
            if (pending_)
                rethrowPending();
            return result;
        } catch (...) {
            report(std::current_exception());
            return true;
        }
    }

    // Marks that the procedure has reached the step at line without running it through
    // step(): for steps inside a loop that a callee drives (the engine's per-line steps). A
    // fault injected there is thrown to the caller, who hands it back to the step() that
    // called it, so that it is reported at this line.
    void reach(int line) {
        line_ = line;
        injectFault();
    }

    int line() const { return line_; }
    const QString& locationTag() const { return tag_; }

    // How many failures this trap has reported so far.
    int failureCount() const { return failures_; }

    // The innermost live trap, or null.
    static Trap* active();

    // Throws the failure that a trap-less handler left with the active trap, if any.
    // Code that sets a control (and so raises its handler) calls this right after.
    static void rethrowPending();

    // Tests use this to make a chosen step fail; it runs at the start of every step.
    using FaultInjector = std::function<void(const QString& locationTag, int line)>;
    static void setFaultInjector(FaultInjector injector);
    // Whether an injector is set: steps that can only fail through one may then be skipped.
    static bool injectingFaults() { return injecting_.load(std::memory_order_relaxed); }

    // While alive, no trap is active: handlers run from the event loop (during a long
    // run that handles pending events) report their own failures.
    class Suspend {
    public:
        Suspend();
        ~Suspend();
        Suspend(const Suspend&) = delete;
        Suspend& operator=(const Suspend&) = delete;

    private:
        Trap* saved_;
    };

private:
    friend void RunHandler(Prompts&, const QString&, const std::function<void()>&);
    // Steps run in the inner loops of reading a file: without an injector (that is, outside
    // the tests that set one) a step costs no call.
    void injectFault() {
        if (injecting_.load(std::memory_order_relaxed))
            callInjector();
    }
    void callInjector();
    static inline std::atomic<bool> injecting_{false};
    void report(std::exception_ptr failure);

    Prompts& prompts_;
    QString tag_;
    int line_ = 0;
    int failures_ = 0;
    Trap* outer_;
    std::exception_ptr pending_;
};

// The boundary of a Qt event handler that has no trap of its own: runs the handler and
// never lets a failure escape into Qt. Inside a trapped step the failure goes to that
// trap; otherwise it is shown in the "Application Error" box with the handler's tag and
// line 0 (the handler has no numbered steps).
void RunHandler(Prompts& prompts, const QString& locationTag, const std::function<void()>& handler);

} // namespace parvello
