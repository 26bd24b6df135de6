// The C export of the audit log's reading.
#include "capi/vardex_api.h"

#include "library/auditlog.h"
#include "library/securestore.h"

#include <limits>

extern "C" {

VARDEX_API int32_t VARDEX_CALL VardexQueryLog(const char* user, const char* computer, const char* text,
                                              const char* since, const char* until, int32_t order,
                                              const char* after, int32_t limit, VardexLogRowHandler handler,
                                              void* context) {
    return vardex::capi::guarded([&]() -> int32_t {
        using vardex::capi::exactText;
        namespace audit = vardex::audit;
        if (order != VARDEX_LOG_NEWEST_FIRST && order != VARDEX_LOG_OLDEST_FIRST)
            throw vardex::Error(
                QStringLiteral("VardexQueryLog: order is %1, not VARDEX_LOG_NEWEST_FIRST (0) or "
                               "VARDEX_LOG_OLDEST_FIRST (1).")
                    .arg(order));
        audit::Filter f;
        f.user = exactText(user, "user");
        f.computer = exactText(computer, "computer");
        f.text = exactText(text, "text");
        f.since = exactText(since, "since");
        f.until = exactText(until, "until");
        const audit::Cursor from = audit::positionFromText(exactText(after, "after"));
        vardex::AdoConnection& cn = vardex::dataModule().ADOcn;
        vardex::securestore::refuseOnDesktop("VardexQueryLog");
        constexpr qint64 most = std::numeric_limits<int32_t>::max();
        if (!handler)
            return int32_t(qMin(audit::count(cn, f), most));
        const audit::Order o =
            order == VARDEX_LOG_OLDEST_FIRST ? audit::Order::OldestFirst : audit::Order::NewestFirst;
        const qint64 wanted = limit > 0 ? limit : most;
        qint64 given = 0;
        audit::Cursor at = from;
        for (;;) {
            const audit::Page page = audit::read(cn, f, at, int(qMin<qint64>(wanted - given, 500)), o);
            for (int i = 0; i < page.rows.size(); ++i) {
                const audit::Row& r = page.rows[i];
                const QByteArray c = r.computer.toLocal8Bit(), u = r.user.toLocal8Bit(),
                                 t = r.time.toLocal8Bit(), x = r.text.toLocal8Bit(),
                                 p = audit::positionText(page.positions[i]).toLocal8Bit();
                ++given;
                if (handler(c.constData(), u.constData(), t.constData(), x.constData(), p.constData(),
                            context) != 0)
                    return int32_t(given);
            }
            if (!page.more || given >= wanted)
                return int32_t(given);
            at = page.next;
        }
    });
}

} // extern "C"
