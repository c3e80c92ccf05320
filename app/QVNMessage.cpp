#include "app/QVNMessage.h"

RM_PROPERTIES(QVNMessage, RM_PROPERTY(sender_nickname), RM_PROPERTY(message_content),
              RM_PROPERTY(message_category), RM_PROPERTY(message_id), RM_PROPERTY(sender_logo),
              RM_PROPERTY(message_time), RM_PROPERTY(sender_uid), RM_PROPERTY(question_id),
              RM_PROPERTY(message_read))
