#include "station/port_retry.h"

bool PortRetry::try_again(Attempt attempt, Clock::time_point started, Clock::time_point now) {
    if (attempt == Attempt::reached_modem) {
        reset();
        return false;
    }
    retry_at_ = now + RETRY_INTERVAL;
    if (attempt == Attempt::port_busy) {
        return true;
    }
    if (!first_unanswered_) {
        first_unanswered_ = started;
    }
    // The next attempt is taken only when it ends within the limit, were it to last as long
    // as this one: so a silent modem counts after at most NO_ANSWER_LIMIT of trying.
    const Clock::time_point next_end = retry_at_ + (now - started);
    if (next_end - *first_unanswered_ > NO_ANSWER_LIMIT) {
        reset();
        return false;
    }
    return true;
}
