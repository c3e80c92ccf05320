#include "studio/AsyncCount.h"

#include "foundation/NSMainThreadCheck.h"

Ref<AsyncCount> AsyncCount::asyncCount() {
    auto count = make<AsyncCount>();
    count->setLoadImagesCount(0);
    return count;
}

void AsyncCount::setLoadImagesCount(long count) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, kLoadImagesCountKey, loadImagesCount_, count);
}

Value AsyncCount::valueForKey(const std::string& key) const {
    if (key == kLoadImagesCountKey) return Value(loadImagesCount_);
    return NSObject::valueForKey(key);
}
