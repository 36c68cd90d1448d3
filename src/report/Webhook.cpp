#include "report/Webhook.h"

#include <QRegularExpression>
#include <QUrl>

#include "platform/HttpClient.h"
#include "platform/Log.h"

namespace webhook {
namespace {

const QStringList kPlaceholders{QStringLiteral("domain"), QStringLiteral("event"),
                                QStringLiteral("reply"), QStringLiteral("time")};

const QRegularExpression& placeholderPattern() {
  static const QRegularExpression p(QStringLiteral("\\{\\{\\{(.*?)\\}\\}\\}"));
  return p;
}

bool isJson(const QString& body) {
  const QString t = body.trimmed();
  return t.startsWith(u'{') || t.startsWith(u'[');
}

QString percentEncoded(const QString& value) {
  return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString jsonEscaped(const QString& value) {
  QString out;
  for (QChar c : value) {
    if (c == u'"' || c == u'\\')
      out += u'\\' + QString(c);
    else if (c.unicode() < 0x20)
      out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out;
}

QString expand(const QString& text, const Values& values, QString (*encode)(const QString&)) {
  QString out;
  qsizetype at = 0;
  QRegularExpressionMatchIterator it = placeholderPattern().globalMatch(text);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    out += text.mid(at, m.capturedStart() - at);
    out += values.contains(m.captured(1)) ? encode(values.value(m.captured(1))) : m.captured();
    at = m.capturedEnd();
  }
  return out + text.mid(at);
}

}  // namespace

bool isUsableUrl(const QString& urlTemplate) {
  Values sample;
  for (const QString& name : kPlaceholders) sample.insert(name, QStringLiteral("x"));
  // Tolerant: what cannot stand in a URL as typed is escaped when it is sent.
  const QUrl url(expand(urlTemplate, sample, percentEncoded), QUrl::TolerantMode);
  const QString scheme = url.scheme().toLower();
  return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

QStringList problems(const QString& urlTemplate, const QString& bodyTemplate) {
  QStringList found;
  if (urlTemplate.isEmpty()) return found;
  if (!isUsableUrl(urlTemplate))
    found
        << QStringLiteral("通知地址有误，须为 http 或 https 地址，不发送通知：%1").arg(urlTemplate);
  for (const QString& text : {urlTemplate, bodyTemplate}) {
    QRegularExpressionMatchIterator it = placeholderPattern().globalMatch(text);
    while (it.hasNext()) {
      const QRegularExpressionMatch m = it.next();
      const QString message =
          QStringLiteral("通知模板中的占位符 %1 未知，请检查！").arg(m.captured());
      if (!kPlaceholders.contains(m.captured(1)) && !found.contains(message)) found << message;
    }
  }
  return found;
}

Request build(const QString& urlTemplate, const QString& bodyTemplate, const Values& values) {
  Request r;
  r.url = expand(urlTemplate, values, percentEncoded);
  if (bodyTemplate.isEmpty()) {
    r.method = QStringLiteral("GET");
    return r;
  }
  r.method = QStringLiteral("POST");
  const bool json = isJson(bodyTemplate);
  r.body = expand(bodyTemplate, values, json ? jsonEscaped : percentEncoded).toUtf8();
  r.contentType = json ? QStringLiteral("application/json; charset=utf-8")
                       : QStringLiteral("application/x-www-form-urlencoded");
  return r;
}

}  // namespace webhook

Webhook::~Webhook() = default;

void Webhook::post(const QString& urlTemplate, const QString& bodyTemplate,
                   const webhook::Values& values) {
  ++queued_;
  QMetaObject::invokeMethod(
      this,
      [this, urlTemplate, bodyTemplate, values] {
        --queued_;
        if (webhook::isUsableUrl(urlTemplate))
          start(webhook::build(urlTemplate, bodyTemplate, values));
      },
      Qt::QueuedConnection);
}

void Webhook::start(const webhook::Request& request) {
  auto* http = new platform::HttpRequest(this);
  ++inFlight_;
  connect(http, &platform::HttpRequest::completed, this, [this, http] {
    if (http->status() <= 0)
      qCInfo(lcRun).noquote() << "webhook failed:" << http->errorString();
    else if (http->status() >= 400)
      qCInfo(lcRun).noquote() << "webhook failed: HTTP" << http->status()
                              << QString::fromUtf8(http->responseBody().left(200));
    else
      qCDebug(lcRun) << "webhook sent: HTTP" << http->status();
    --inFlight_;
    http->deleteLater();  // not inside its own signal
    emit settled();
  });
  http->open(request.method, request.url, true);
  if (request.method == u"POST")
    http->setRequestHeader(QStringLiteral("Content-Type"), request.contentType);
  http->send(request.body);
}
