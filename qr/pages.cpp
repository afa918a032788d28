#include "qr/qr.h"

#include <initializer_list>

namespace qr {
namespace {

// The labels and messages below are UTF-8 literals, the system code page's
// own form; another system code page would need them converted.
static_assert(kSystemCodePage == kCodePageUtf8);

// One emptiness check of a page: a field left empty refuses with the message.
struct FieldCheck {
    std::string_view field;
    std::string_view message;
    std::string_view title = msgbox::kErrorTitle;
};

// Runs the checks in order; the first empty field refuses, and no payload is
// built. Otherwise the payload is built and encoded.
template <typename BuildPayload>
PageOutcome Plan(std::initializer_list<FieldCheck> checks, RequestKind kind, BuildPayload buildPayload) {
    for (const auto& check : checks) {
        if (check.field.empty()) return Refusal{std::string(check.message), std::string(check.title)};
    }
    return QrRequest{kind, EncodePayload(buildPayload(), kSystemCodePage)};
}

constexpr std::string_view kCardIncomplete = "请把个人资料填写完整，如果没有请填“无”。";

}  // namespace

std::string BuildCardPayload(const CardFields& card) {
    std::string payload;
    payload.append("这是来自").append(card.name).append("的名片！\r\n");
    payload.append("手机：").append(card.mobile).append("\r\n");
    payload.append("QQ：").append(card.qq).append("\r\n");
    payload.append("微信：").append(card.wechat).append("\r\n");
    payload.append("邮箱：").append(card.email).append("\r\n");
    payload.append("职位：").append(card.jobTitle).append("\r\n");
    payload.append("单位：").append(card.employer).append("\r\n");
    payload.append("联系地址：").append(card.address).append("\r\n");
    payload.append("网址：").append(card.website);
    return payload;
}

std::string BuildSmsPayload(std::string_view number, std::string_view body) {
    std::string payload(":");
    payload.append(number).append(":").append(body);
    return payload;
}

std::string BuildWifiPayload(std::string_view networkName, std::string_view password) {
    std::string payload("网络名称：");
    payload.append(networkName).append("，密码：").append(password);
    return payload;
}

PageOutcome PlanTextQr(std::string_view text) {
    return Plan({{text, "生成失败！请输入文本内容！", "错误！"}}, RequestKind::Plain, [&] { return text; });
}

PageOutcome PlanCardQr(const CardFields& card) {
    // The check order differs from the order of the card's lines.
    return Plan(
        {
            {card.qq, kCardIncomplete},
            {card.name, kCardIncomplete},
            {card.mobile, kCardIncomplete},
            {card.wechat, kCardIncomplete},
            {card.email, kCardIncomplete},
            {card.jobTitle, kCardIncomplete},
            {card.employer, kCardIncomplete},
            {card.address, kCardIncomplete},
            {card.website, kCardIncomplete},
        },
        RequestKind::Plain, [&] { return BuildCardPayload(card); });
}

PageOutcome PlanUrlQr(std::string_view address) {
    return Plan({{address, "请输入网址！"}}, RequestKind::Plain, [&] { return address; });
}

PageOutcome PlanSmsQr(std::string_view number, std::string_view body) {
    // The body is checked first although the number leads the payload.
    return Plan({{body, "请输入短信内容！"}, {number, "请输入电话号码！"}}, RequestKind::TextMessage,
                [&] { return BuildSmsPayload(number, body); });
}

PageOutcome PlanWifiQr(std::string_view networkName, std::string_view password) {
    return Plan({{networkName, "请输入网络名称！"}, {password, "请输入密码！如果没有密码请输入“无”"}},
                RequestKind::Plain, [&] { return BuildWifiPayload(networkName, password); });
}

}  // namespace qr
