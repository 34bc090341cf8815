#include "base/failure.h"

#include "base/addresses.h"
#include "base/prompts.h"

#include <new>
#include <utility>

namespace parvello {

namespace {
thread_local Trap* activeTrap = nullptr;
Trap::FaultInjector faultInjector;
} // namespace

Failure::Failure(const QString& description, int number)
    : std::runtime_error(description.toStdString()), description_(description), number_(number) {}

QString DescribeFailure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(std::move(failure));
    } catch (const Failure& f) {
        return f.description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown failure");
    }
}

QString ErrorBoxText(const QString& description, const QString& locationTag, int line) {
    return description + QStringLiteral("\r\n") + QStringLiteral("in ") + locationTag +
           QStringLiteral(" ") + QStringLiteral("at line ") + QString::number(line) +
           QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") +
           QString::fromUtf8(addresses::SupportEmail);
}

void ShowErrorBox(Prompts& prompts, const QString& locationTag, int line,
                  const QString& description) {
    // The box is modal; handlers it lets run report their own failures.
    Trap::Suspend noTrap;
    prompts.applicationError(ErrorBoxText(description, locationTag, line));
}

QString FormTag(const QString& procedure) {
    return ModuleTag(QStringLiteral("Form1"), procedure);
}

QString ModuleTag(const QString& module, const QString& procedure) {
    return QStringLiteral("Qwellan2021/08/31.") + module + QLatin1Char('.') + procedure;
}

Trap::Trap(Prompts& prompts, QString locationTag)
    : prompts_(prompts), tag_(std::move(locationTag)), outer_(activeTrap) {
    activeTrap = this;
}

Trap::~Trap() {
    activeTrap = outer_;
}

Trap* Trap::active() {
    return activeTrap;
}

void Trap::rethrowPending() {
    if (activeTrap && activeTrap->pending_) {
        std::exception_ptr failure = std::exchange(activeTrap->pending_, nullptr);
        std::rethrow_exception(failure);
    }
}

void Trap::setFaultInjector(FaultInjector injector) {
    faultInjector = std::move(injector);
    injecting_.store(bool(faultInjector), std::memory_order_relaxed);
}

void Trap::callInjector() {
    if (faultInjector)
        faultInjector(tag_, line_);
}

void Trap::report(std::exception_ptr failure) {
    pending_ = nullptr;
    ++failures_;
    const QString text = ErrorBoxText(DescribeFailure(std::move(failure)), tag_, line_);
    // The box is modal; handlers it lets run report their own failures.
    Suspend noTrap;
    prompts_.applicationError(text);
}

Trap::Suspend::Suspend() : saved_(activeTrap) {
    activeTrap = nullptr;
}

Trap::Suspend::~Suspend() {
    activeTrap = saved_;
}

void RunHandler(Prompts& prompts, const QString& locationTag,
                const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        if (Trap* trap = activeTrap) {
            if (!trap->pending_)
                trap->pending_ = std::current_exception();
            return;
        }
        const QString text =
            ErrorBoxText(DescribeFailure(std::current_exception()), locationTag, 0);
        prompts.applicationError(text);
    }
}

} // namespace parvello
