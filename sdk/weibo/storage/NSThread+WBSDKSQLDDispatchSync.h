#pragma once
// Per-thread counts of how deep the current thread is inside blocks of a dispatch queue, kept in
// the thread's own dictionary (so no lock is needed). A database queue reads them to run a
// nested call inline instead of waiting for itself.

#include <string>

#include "dispatch/Dispatch.h"

namespace NSThread_WBSDKSQLDDispatchSync {

// "com.weibo.sdk.thread_dispatch_count.<label>_<address as a signed 32-bit integer>".
std::string wbsdksql_operationCountKeyForDispatchQueue(const dispatch_queue_t& queue);
// On the current thread; 0 when absent.
long wbsdksql_operationCountOfQueue(const dispatch_queue_t& queue);
// Count + 1, stored and answered.
long wbsdksql_operationAddOfQueue(const dispatch_queue_t& queue);
// Count - 1, never below 0, stored and answered.
long wbsdksql_operationEndOfQueue(const dispatch_queue_t& queue);

}  // namespace NSThread_WBSDKSQLDDispatchSync
