<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
<context>
    <name>main</name>
    <message>
        <source>A QUELTOR panel for this settings file is running but does not answer. Close it before starting another.</source>
        <translation>이 설정 파일을 쓰는 QUELTOR 패널이 이미 실행 중이지만 응답하지 않습니다. 새로 시작하기 전에 그 패널을 닫으십시오.</translation>
    </message>
    <message>
        <source>queltor: no socket for scripts at %1: %2</source>
        <translation>queltor: 스크립트용 소켓을 %1에 만들 수 없습니다: %2</translation>
    </message>
</context>
<context>
    <name>queltor::ControlServer</name>
    <message>
        <source>there is no runtime folder for it (XDG_RUNTIME_DIR)</source>
        <translation>소켓을 둘 런타임 폴더(XDG_RUNTIME_DIR)가 없습니다</translation>
    </message>
    <message>
        <source>another panel kept its lock file %1.lock</source>
        <translation>다른 패널이 잠금 파일 %1.lock을(를) 놓지 않았습니다</translation>
    </message>
</context>
<context>
    <name>queltor::DeviceDialog</name>
    <message>
        <source>Choose Device for %1</source>
        <translation>%1 장치 선택</translation>
    </message>
    <message>
        <source>&amp;Devices plugged in:</source>
        <translation>연결된 장치(&amp;D):</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>장치</translation>
    </message>
    <message>
        <source>System path</source>
        <translation>시스템 경로</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>설명</translation>
    </message>
    <message>
        <source>Manufacturer</source>
        <translation>제조사</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>일련번호</translation>
    </message>
    <message>
        <source>No serial devices found</source>
        <translation>직렬 장치를 찾을 수 없습니다</translation>
    </message>
    <message>
        <source>&amp;Path:</source>
        <translation>경로(&amp;P):</translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation>열기(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation>새로 고침(&amp;R)</translation>
    </message>
    <message>
        <source>this panel</source>
        <translation>이 패널</translation>
    </message>
    <message>
        <source>%1 (PID %2)</source>
        <translation>%1(PID %2)</translation>
    </message>
    <message>
        <source>In use by</source>
        <translation>사용 중인 프로그램</translation>
    </message>
</context>
<context>
    <name>queltor::Link</name>
    <message>
        <source>The panel reconnects by itself when the device is back.</source>
        <translation>장치가 다시 연결되면 패널이 스스로 다시 연결합니다.</translation>
    </message>
    <message>
        <source>connected</source>
        <translation>연결됨</translation>
    </message>
    <message>
        <source>not connected: %1; reconnects when it is back</source>
        <translation>연결 안 됨: %1 (장치가 돌아오면 다시 연결합니다)</translation>
    </message>
    <message>
        <source>not connected: %1; connects when it is plugged in</source>
        <translation>연결 안 됨: %1 (장치를 꽂으면 연결합니다)</translation>
    </message>
    <message>
        <source>not connected</source>
        <translation>연결 안 됨</translation>
    </message>
    <message>
        <source>not connected: %1</source>
        <translation>연결 안 됨: %1</translation>
    </message>
    <message>
        <source>unplugged</source>
        <translation>분리됨</translation>
    </message>
    <message>
        <source>the device has gone away</source>
        <translation>장치가 분리되었습니다</translation>
    </message>
    <message>
        <source>%1 could not be written to</source>
        <translation>%1에 쓸 수 없습니다</translation>
    </message>
    <message>
        <source>%1 was closed</source>
        <translation>%1을(를) 닫았습니다</translation>
    </message>
    <message>
        <source>the port is not open: %1</source>
        <translation>포트가 열려 있지 않습니다: %1</translation>
    </message>
</context>
<context>
    <name>queltor::Scan</name>
    <message>
        <source>Start Scan</source>
        <translation>스캔 시작</translation>
    </message>
    <message>
        <source>Stop Scan</source>
        <translation>스캔 중지</translation>
    </message>
</context>
<context>
    <name>queltor::SerialPort</name>
    <message>
        <source>Port number %1 is not available; the ports are %2 to %3.</source>
        <translation>포트 번호 %1은(는) 사용할 수 없습니다. 포트는 %2부터 %3까지입니다.</translation>
    </message>
    <message>
        <source>the device does not exist</source>
        <translation>장치가 없습니다</translation>
    </message>
    <message>
        <source>it is not a serial port</source>
        <translation>직렬 포트가 아닙니다</translation>
    </message>
    <message>
        <source>the device has gone away</source>
        <translation>장치가 분리되었습니다</translation>
    </message>
    <message>
        <source>the device is not accepting data</source>
        <translation>장치가 데이터를 받지 않습니다</translation>
    </message>
    <message>
        <source>you have no permission to use it (add yourself to the %1 group: sudo usermod -aG %1 $USER, then log in again)</source>
        <translation>사용 권한이 없습니다 (%1 그룹에 사용자를 추가한 뒤 다시 로그인하십시오: sudo usermod -aG %1 $USER)</translation>
    </message>
    <message>
        <source>you have no permission to use it (ask your administrator for access)</source>
        <translation>사용 권한이 없습니다 (관리자에게 사용 권한을 요청하십시오)</translation>
    </message>
    <message>
        <source>its path is too long for a lock file</source>
        <translation>경로가 잠금 파일 이름으로 쓰기에 너무 깁니다</translation>
    </message>
    <message>
        <source>it does not take 9600 baud, 8N1</source>
        <translation>9600보, 8N1 설정을 받아들이지 않습니다</translation>
    </message>
    <message>
        <source>a stale lock file is in the way</source>
        <translation>남은 잠금 파일이 가로막고 있습니다</translation>
    </message>
    <message>
        <source>no permission to use it</source>
        <translation>사용 권한 없음</translation>
    </message>
    <message>
        <source>another program</source>
        <translation>다른 프로그램</translation>
    </message>
    <message>
        <source>in use by %1 (PID %2)</source>
        <translation>%1(PID %2)이(가) 사용 중</translation>
    </message>
    <message>
        <source>in use by another program</source>
        <translation>다른 프로그램이 사용 중</translation>
    </message>
    <message>
        <source>a lock file is in the way</source>
        <translation>잠금 파일이 가로막고 있습니다</translation>
    </message>
    <message>
        <source>the port is in use by another program</source>
        <translation>다른 프로그램이 포트를 사용하고 있습니다</translation>
    </message>
    <message>
        <source>Quit it, then choose the port again in Set &gt; Serial Port.</source>
        <translation>그 프로그램을 끝낸 뒤 설정 &gt; 직렬 포트에서 포트를 다시 고르십시오.</translation>
    </message>
    <message>
        <source>the port is in use by %1 (PID %2)</source>
        <translation>%1(PID %2)이(가) 포트를 사용하고 있습니다</translation>
    </message>
    <message>
        <source>Quit that program, then choose the port again in Set &gt; Serial Port.</source>
        <translation>그 프로그램을 끝낸 뒤 설정 &gt; 직렬 포트에서 포트를 다시 고르십시오.</translation>
    </message>
    <message>
        <source>the lock file %1 is in the way and names no program</source>
        <translation>잠금 파일 %1이(가) 가로막고 있으나 어느 프로그램의 것인지 알 수 없습니다</translation>
    </message>
    <message>
        <source>If no program uses the device, delete the lock file.</source>
        <translation>장치를 쓰는 프로그램이 없다면 이 잠금 파일을 지우십시오.</translation>
    </message>
    <message>
        <source>the lock file %1, left behind by a program that has ended (PID %2), is in the way and cannot be removed</source>
        <translation>이미 끝난 프로그램(PID %2)이 남긴 잠금 파일 %1이(가) 가로막고 있으며, 이 파일을 지울 수 없습니다</translation>
    </message>
    <message>
        <source>Ask your administrator to delete it.</source>
        <translation>관리자에게 지워 달라고 요청하십시오.</translation>
    </message>
    <message>
        <source>Plug the device in, or choose it with Set &gt; Serial Port &gt; Choose Device.</source>
        <translation>장치를 꽂거나, 설정 &gt; 직렬 포트 &gt; 장치 선택에서 장치를 고르십시오.</translation>
    </message>
    <message>
        <source>its path is too long to name a lock file after it (a lock file name may have %1 characters; this one would have %2)</source>
        <translation>경로가 너무 길어 잠금 파일 이름을 지을 수 없습니다 (잠금 파일 이름은 %1자까지인데 이 이름은 %2자가 됩니다)</translation>
    </message>
    <message>
        <source>Give the device a shorter path.</source>
        <translation>장치에 더 짧은 경로를 주십시오.</translation>
    </message>
    <message>
        <source>%1 could not be opened</source>
        <translation>%1을(를) 열 수 없습니다</translation>
    </message>
    <message>
        <source>%1 could not be written to</source>
        <translation>%1에 쓸 수 없습니다</translation>
    </message>
    <message>
        <source>The port cannot be changed to %1 while %2 is open.</source>
        <translation>%2이(가) 열려 있는 동안에는 포트를 %1(으)로 바꿀 수 없습니다.</translation>
    </message>
    <message>
        <source>the settings file that says which device it is cannot be used</source>
        <translation>어떤 장치인지 정하는 설정 파일을 사용할 수 없습니다</translation>
    </message>
    <message>
        <source>its path holds a zero byte, which no path can</source>
        <translation>경로에 0 바이트가 들어 있습니다. 경로에는 0 바이트가 있을 수 없습니다</translation>
    </message>
    <message>
        <source>%1 could not be set to 9600 baud, 8 data bits, no parity and 1 stop bit</source>
        <translation>%1을(를) 9600보, 데이터 비트 8, 패리티 없음, 정지 비트 1로 설정할 수 없습니다</translation>
    </message>
    <message>
        <source>the port is not open</source>
        <translation>포트가 열려 있지 않습니다</translation>
    </message>
</context>
<context>
    <name>queltor::SettingsStore</name>
    <message>
        <source>is a folder, not a file</source>
        <translation>파일이 아니라 폴더임</translation>
    </message>
    <message>
        <source>is not a regular file</source>
        <translation>일반 파일이 아님</translation>
    </message>
    <message>
        <source>cannot be read (%1)</source>
        <translation>읽을 수 없음(%1)</translation>
    </message>
    <message>
        <source>%1 is a file, where a folder should be</source>
        <translation>폴더가 있어야 할 자리에 파일 %1이(가) 있습니다</translation>
    </message>
    <message>
        <source>the folder %1 cannot be made (%2)</source>
        <translation>폴더 %1을(를) 만들 수 없습니다(%2)</translation>
    </message>
    <message>
        <source>user %1</source>
        <translation>사용자 %1</translation>
    </message>
    <message>
        <source>the file</source>
        <translation>파일</translation>
    </message>
    <message>
        <source>its folder %1</source>
        <translation>폴더 %1</translation>
    </message>
    <message>
        <source>%1 belongs to %2, not to %3, who runs the panel, so it is left to its owner</source>
        <translation>%1의 소유자가 패널을 실행한 %3이(가) 아니라 %2이므로 소유자에게 맡겨 둡니다</translation>
    </message>
    <message>
        <source>the file cannot be written (%1)</source>
        <translation>파일에 쓸 수 없습니다(%1)</translation>
    </message>
    <message>
        <source>its folder %1 cannot be written (%2)</source>
        <translation>폴더 %1에 쓸 수 없습니다(%2)</translation>
    </message>
    <message>
        <source>%1 (a link to %2)</source>
        <translation>%1(%2을(를) 가리키는 링크)</translation>
    </message>
    <message>
        <source>the text is longer than 1,000 characters</source>
        <translation>값이 1,000자보다 깁니다</translation>
    </message>
    <message>
        <source>the file %1, so it is left as it is</source>
        <translation>파일을 그대로 둡니다(%1)</translation>
    </message>
    <message>
        <source>its lock file %1.lock cannot be made</source>
        <translation>잠금 파일 %1.lock을(를) 만들 수 없습니다</translation>
    </message>
    <message>
        <source>another program kept it locked for %1 seconds</source>
        <translation>다른 프로그램이 %1초 동안 잠가 두었습니다</translation>
    </message>
    <message>
        <source>is larger than %1 KB</source>
        <translation>크기가 %1KB보다 큼</translation>
    </message>
    <message>
        <source>has a value of more than 1,000 characters on line %1</source>
        <translation>%1번째 줄의 값이 1,000자를 넘음</translation>
    </message>
    <message>
        <source>with it the file %1, so it is left as it is</source>
        <translation>저장하면 파일을 쓸 수 없게 되므로 그대로 둡니다(%1)</translation>
    </message>
    <message>
        <source>is a loop of symbolic links</source>
        <translation>심볼릭 링크가 돌고 도는 고리임</translation>
    </message>
    <message>
        <source>is a symbolic link to %1, which does not exist</source>
        <translation>존재하지 않는 %1을(를) 가리키는 심볼릭 링크임</translation>
    </message>
    <message>
        <source>its lock file %1.lock cannot be made (%2)</source>
        <translation>잠금 파일 %1.lock을(를) 만들 수 없습니다(%2)</translation>
    </message>
    <message>
        <source>The setting %1 could not be saved to %2</source>
        <translation>설정 %1을(를) %2에 저장할 수 없습니다</translation>
    </message>
</context>
<context>
    <name>queltor::StoredChoices</name>
    <message>
        <source>The stored setting %1 (%2) is not used</source>
        <translation>저장된 설정 %1(%2)을(를) 사용하지 않습니다</translation>
    </message>
    <message>
        <source>The settings file %1 is not used</source>
        <translation>설정 파일 %1을(를) 사용하지 않습니다</translation>
    </message>
    <message>
        <source>it %1</source>
        <translation>%1</translation>
    </message>
    <message>
        <source>20 channels are shown; no port is opened and no choice is saved until the file is mended or removed.</source>
        <translation>채널 20개를 표시하며, 파일을 고치거나 지울 때까지 포트를 열지 않고 선택한 내용도 저장하지 않습니다.</translation>
    </message>
    <message>
        <source>it is not a channel count of 10 to 100</source>
        <translation>10~100의 채널 수가 아님</translation>
    </message>
    <message>
        <source>20 channels are used instead.</source>
        <translation>채널 20개를 대신 사용합니다.</translation>
    </message>
    <message>
        <source>it is not a port number of 1 to %1</source>
        <translation>1~%1의 포트 번호가 아님</translation>
    </message>
    <message>
        <source>%1 is used instead.</source>
        <translation>%1을(를) 대신 사용합니다.</translation>
    </message>
</context>
<context>
    <name>queltor::frmAbout</name>
    <message>
        <source>About QUELTOR</source>
        <translation>QUELTOR 정보</translation>
    </message>
    <message>
        <source>QUELTOR Demo</source>
        <translation>QUELTOR 데모</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>버전 %1</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>확인</translation>
    </message>
</context>
<context>
    <name>queltor::frmMain</name>
    <message>
        <source>Channel</source>
        <translation>채널</translation>
    </message>
    <message>
        <source>S&amp;tart CH:</source>
        <translation>시작(&amp;T):</translation>
    </message>
    <message>
        <source>&amp;End CH:</source>
        <translation>끝(&amp;E):</translation>
    </message>
    <message>
        <source>Scan Te&amp;rm:</source>
        <translation>주기(&amp;R):</translation>
    </message>
    <message>
        <source>sec</source>
        <translation>초</translation>
    </message>
    <message>
        <source>&amp;Auto</source>
        <translation>자동(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;Manual</source>
        <translation>수동(&amp;M)</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>파일(&amp;F)</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>끝내기(&amp;X)</translation>
    </message>
    <message>
        <source>&amp;Set</source>
        <translation>설정(&amp;S)</translation>
    </message>
    <message>
        <source>Serial &amp;Port</source>
        <translation>직렬 포트(&amp;P)</translation>
    </message>
    <message>
        <source>&amp;Channel Count</source>
        <translation>채널 수(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>도움말(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>정보(&amp;A)</translation>
    </message>
    <message>
        <source>Channel %1 does not exist; nothing was sent.</source>
        <translation>채널 %1은(는) 없는 채널이므로 아무것도 보내지 않았습니다.</translation>
    </message>
    <message>
        <source>Channel Error</source>
        <translation>채널 오류</translation>
    </message>
    <message>
        <source>Set Start CH less than End CH...</source>
        <translation>시작 채널을 끝 채널보다 작게 설정하십시오...</translation>
    </message>
    <message>
        <source>Scan Term Error</source>
        <translation>스캔 주기 오류</translation>
    </message>
    <message>
        <source>Set Scan Term between 0 and 65.535 sec...</source>
        <translation>스캔 주기를 0초에서 65.535초 사이로 설정하십시오...</translation>
    </message>
    <message>
        <source>The scan reached a channel that does not exist.</source>
        <translation>스캔이 존재하지 않는 채널에 이르렀습니다.</translation>
    </message>
    <message>
        <source>Unexpected failure: %1</source>
        <translation>예기치 않은 오류: %1</translation>
    </message>
    <message>
        <source>Choose &amp;Device…</source>
        <translation>장치 선택(&amp;D)…</translation>
    </message>
    <message>
        <source>No device is set for %1 yet, and a serial adapter is plugged in. Choose the one the switch is connected to: it is saved, and opened at every start.</source>
        <translation>%1에 설정된 장치가 아직 없고, 직렬 어댑터가 연결되어 있습니다. 스위치가 연결된 어댑터를 고르십시오. 선택한 장치는 저장되어 시작할 때마다 열립니다.</translation>
    </message>
</context>
</TS>
