// The queue rules of posix/message_queue_test.cc, run against USER32 under Wine.
#include "platform/posix/message_queue_test.cc"
