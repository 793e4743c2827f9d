#include "XafsHelperThread.h"

#include <QDebug>

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

namespace {

std::atomic<bool> refusing{false};

} // namespace

void XafsHelperThread::setRefusing(bool refuse)
{
    refusing.store(refuse);
}

void XafsHelperThread::share(const std::function<void()> &helper, const std::function<void()> &here)
{
    std::exception_ptr helperError;
    std::thread thread;
    try {
        if (refusing.load())
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        thread = std::thread([&helper, &helperError] {
            try {
                helper();
            } catch (...) {
                helperError = std::current_exception();
            }
        });
    } catch (const std::system_error &e) {
        qDebug() << "XAFS: a helper thread could not start, its work runs on this thread"
                 << e.what();
    }
    std::exception_ptr hereError;
    try {
        here();
    } catch (...) {
        hereError = std::current_exception();
    }
    if (thread.joinable())
        thread.join();
    else if (!hereError)
        helper();
    if (hereError)
        std::rethrow_exception(hereError);
    if (helperError)
        std::rethrow_exception(helperError);
}
