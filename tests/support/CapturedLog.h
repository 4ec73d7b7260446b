#pragma once

#include <QLoggingCategory>
#include <QStringList>

// The debug lines of one logging category, collected while this lives with Kelvo's categories switched on; every
// other message goes where it went before.
class CapturedLog
{
public:
    explicit CapturedLog(const char* category)
        : m_category(category)
    {
        QLoggingCategory::setFilterRules(QStringLiteral("kelvo.*.debug=true"));
        s_current = this;
        m_previous = qInstallMessageHandler(&CapturedLog::handle);
    }
    ~CapturedLog()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }

    QStringList lines;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (qstrcmp(context.category, s_current->m_category) == 0) {
            s_current->lines.append(message);
        } else {
            s_current->m_previous(type, context, message);
        }
    }

    static inline CapturedLog* s_current = nullptr;
    const char* m_category;
    QtMessageHandler m_previous = nullptr;
};
