#include "guard.h"

#include <exception>

#include "wav/error.h"

namespace velmora::app {

void TopLevelGuard::handle(const std::function<void()>& body) {
    // The text is taken out of the handler first so that showing it (a modal
    // box) runs with no exception in flight.
    std::string failure;
    try {
        body();
        return;
    } catch (const VelmoraError& e) {
        failure = e.what();
    } catch (const std::bad_alloc&) {
        failure = "メモリが不足しています";
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "予期しないエラーが発生しました";
    }
    try {
        show_(failure);
    } catch (...) {
        // Nothing may escape into the event loop, not even from the box.
    }
}

bool TopLevelGuard::operation(const std::function<void()>& body) {
    if (busy_) return false;
    busy_ = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{busy_};
    handle(body);
    return true;
}

}  // namespace velmora::app
