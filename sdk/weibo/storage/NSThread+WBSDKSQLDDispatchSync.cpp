#include "sdk/weibo/storage/NSThread+WBSDKSQLDDispatchSync.h"

#include <cstdint>

#include "foundation/NSString.h"
#include "foundation/NSThread.h"

namespace NSThread_WBSDKSQLDDispatchSync {

std::string wbsdksql_operationCountKeyForDispatchQueue(const dispatch_queue_t& queue) {
    auto address = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(queue.get()));
    return NSString::stringWithFormat("com.weibo.sdk.thread_dispatch_count.%@_%i",
                                      std::string(queue ? dispatch_queue_get_label(queue) : ""), address);
}

long wbsdksql_operationCountOfQueue(const dispatch_queue_t& queue) {
    auto dict = NSThread::currentThread()->threadDictionary();
    return dict.objectForKey(wbsdksql_operationCountKeyForDispatchQueue(queue)).integerValue();
}

long wbsdksql_operationAddOfQueue(const dispatch_queue_t& queue) {
    auto dict = NSThread::currentThread()->threadDictionary();
    auto key = wbsdksql_operationCountKeyForDispatchQueue(queue);
    long count = dict.objectForKey(key).integerValue() + 1;
    dict.setObject(key, Value(count));
    return count;
}

long wbsdksql_operationEndOfQueue(const dispatch_queue_t& queue) {
    auto dict = NSThread::currentThread()->threadDictionary();
    auto key = wbsdksql_operationCountKeyForDispatchQueue(queue);
    long count = dict.objectForKey(key).integerValue() - 1;
    if (count < 0) count = 0;
    dict.setObject(key, Value(count));
    return count;
}

}  // namespace NSThread_WBSDKSQLDDispatchSync
