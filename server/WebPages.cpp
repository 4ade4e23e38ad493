#include "WebPages.h"

namespace tidewell::webfolder {
namespace {

constexpr WebPage kPages[] = {
    {"/", "Tidewell 웹폴더",
     R"html(<h1>Tidewell 웹폴더</h1>
<p>Quenlow 바코드의 사업장 자료를 웹폴더에 보관하는 서비스입니다.</p>
<h2>로그인에 문제가 있으신가요?</h2>
<p>아이디와 비밀번호는 이 웹폴더를 운영하는 관리자가 발급합니다.
비밀번호를 잊으셨거나 로그인이 되지 않으면 관리자에게 비밀번호 재설정을 요청해 주세요.</p>
<p><a href="/support/tidewell.asp">도움말</a> · <a href="/member/pay_member_2.asp">서비스 연장신청</a></p>)html"},
    {"/member/pay_member_2.asp", "서비스 연장신청",
     R"html(<h1>서비스 연장신청</h1>
<p>사용기한이 끝나면 웹폴더의 자료를 내려받을 수는 있지만 새로 올릴 수는 없습니다.</p>
<p>사용기한 연장은 이 웹폴더를 운영하는 관리자에게 요청해 주세요.
관리자는 계정의 사용기한과 용량을 다시 정할 수 있습니다.</p>
<p><a href="/">처음으로</a></p>)html"},
    {"/support/tidewell.asp", "Tidewell 도움말",
     R"html(<h1>Tidewell 도움말</h1>
<ul>
<li>로그인하면 이 컴퓨터와 웹폴더에 있는 사업장이 함께 표시됩니다.</li>
<li>자료가 더 최근인 쪽에서 다른 쪽으로 전송됩니다. 사업장마다 방향을 바꿀 수 있습니다.</li>
<li>웹폴더는 사업장마다 가장 최근의 백업 파일 세 개를 보관합니다.</li>
<li>내려받기 전에 이 컴퓨터의 자료는 사업장 폴더의 Backup 폴더에 따로 보관됩니다.</li>
<li>사용기한이 끝나면 내려받기만 할 수 있습니다.</li>
</ul>
<p><a href="/">처음으로</a></p>)html"},
};

}  // namespace

std::span<const WebPage> WebPages() {
    return kPages;
}

std::string RenderPage(const WebPage& page) {
    return std::string(
               "<!DOCTYPE html>\n<html lang=\"ko\">\n<head>\n<meta charset=\"utf-8\">\n<title>") +
           std::string(page.title) + "</title>\n</head>\n<body>\n" + std::string(page.body) +
           "\n</body>\n</html>\n";
}

}  // namespace tidewell::webfolder
