#include "usecase/AccountTexts.h"

#include "company/Common.h"
#include "gateway/TidewellUser.h"

namespace tidewell {

std::string UserNameText(const TTidewellUser& user) {
    return "사용자명: " + user.UserName;
}

std::string DiskUsedText(std::int64_t diskUsed) {
    return "웹폴더사용량: " + FormatSize(diskUsed);
}

TServicePeriodText ServicePeriodText(const TTidewellUser& user) {
    TServicePeriodText period;
    if (user.RemainingDays != 0) {
        // An account without an end date has no date to name.
        period.Text = user.ExpireAt > 0
                          ? "사용기한: " + FormatDateTime("yyyy년 m월 d일", user.ExpireAt) + "까지"
                          : std::string("사용기한: 제한 없음");
        if (user.RemainingDays < 30) {
            period.Text += " [연장신청하기]";
            period.Warning = true;
            period.Tooltip =
                "사용기한 만료가 얼마 남지 않았습니다.\r\n홈페이지에서 서비스 연장신청이 "
                "가능합니다.";
        }
        return period;
    }
    period.Text = "사용기한이 만료되었습니다. [연장신청하기]";
    period.Warning = true;
    if (user.ExpireAt > 0) {
        period.Tooltip = "사용기한이 " + FormatDateTime("yyyy-mm-dd", user.ExpireAt) +
                         "로 만료되었습니다." + "\r\n";
    }
    period.Tooltip +=
        std::string("현재는 파일을 내려받기만 사용할 수 있으며, 파일 업로드는 불가능합니다.") +
        "\r\n" + "홈페이지에서 서비스 연장신청을 해 주세요.";
    return period;
}

}  // namespace tidewell
