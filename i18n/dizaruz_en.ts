<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>Problems</name>
    <message>
        <location filename="../app/Problems.cpp" line="41"/>
        <source>Файл «%1» не отправлен: его размер %2 байт больше %3 байт, самого большого размера, какой умеет передать программа.</source>
        <translation>File “%1” was not sent: its size, %2 bytes, is above %3 bytes, the largest size the program can transfer.</translation>
    </message>
    <message>
        <location filename="../app/Problems.cpp" line="45"/>
        <source>Файл «%1» не отправлен: его размер %2 байт больше %3 байт, а программа на другом компьютере принимает файлы только до этого размера (она не сообщила, что принимает большие).</source>
        <translation>File “%1” was not sent: its size, %2 bytes, is above %3 bytes, and the program on the other computer takes files only up to that size (it did not say it takes larger ones).</translation>
    </message>
    <message>
        <location filename="../app/Problems.cpp" line="51"/>
        <source>Файл «%1» не отправлен: другой компьютер дважды получил его не таким, каким он ушёл (хеш XXH3-128 не совпал).</source>
        <translation>File “%1” was not sent: twice the other computer received it unlike it left (the XXH3-128 hash did not match).</translation>
    </message>
    <message>
        <location filename="../app/Problems.cpp" line="55"/>
        <source>Файл «%1» не отправлен: на другом компьютере он требует %2, а в папке приёма свободно %3 (%4 остаются незанятыми).</source>
        <translation>File “%1” was not sent: it needs %2 on the other computer, and its receive folder has %3 free (%4 are kept free).</translation>
    </message>
    <message>
        <location filename="../app/Problems.cpp" line="59"/>
        <source>Файл от %1 не сохранён: недопустимое имя «%2».</source>
        <translation>A file from %1 was not stored: the name “%2” is not allowed.</translation>
    </message>
    <message>
        <location filename="../app/Problems.cpp" line="62"/>
        <source>Файл от %1 не сохранён: «%2» пришёл не таким, каким ушёл (хеш XXH3-128 не совпал).</source>
        <translation>A file from %1 was not stored: “%2” arrived unlike it left (the XXH3-128 hash did not match).</translation>
    </message>
    <message>
        <location filename="../app/Problems.cpp" line="66"/>
        <source>Файл от %1 не сохранён: «%2» требует %3, а в папке приёма свободно %4 (%5 остаются незанятыми).</source>
        <translation>A file from %1 was not stored: “%2” needs %3, and the receive folder has %4 free (%5 are kept free).</translation>
    </message>
</context>
<context>
    <name>Shell</name>
    <message>
        <location filename="../app/Shell.cpp" line="28"/>
        <source>Ошибка при открытии документа : </source>
        <translation>Error opening the document: </translation>
    </message>
</context>
<context>
    <name>SizeText</name>
    <message>
        <location filename="../app/SizeText.cpp" line="8"/>
        <source>Б</source>
        <translation>B</translation>
    </message>
    <message>
        <location filename="../app/SizeText.cpp" line="8"/>
        <source>КБ</source>
        <translation>KB</translation>
    </message>
    <message>
        <location filename="../app/SizeText.cpp" line="9"/>
        <source>МБ</source>
        <translation>MB</translation>
    </message>
    <message>
        <location filename="../app/SizeText.cpp" line="9"/>
        <source>ГБ</source>
        <translation>GB</translation>
    </message>
    <message>
        <location filename="../app/SizeText.cpp" line="10"/>
        <source>ТБ</source>
        <translation>TB</translation>
    </message>
</context>
<context>
    <name>TAboutBox</name>
    <message>
        <location filename="../app/About.cpp" line="47"/>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="64"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="76"/>
        <location filename="../app/About.cpp" line="77"/>
        <source>Язык</source>
        <translation>Language</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="140"/>
        <source>Программа позволяет копировать файлы </source>
        <translation>The program copies files </translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="141"/>
        <source>по сети, не используя для этого</source>
        <translation>over the network without using</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="142"/>
        <source>сетевые диски.</source>
        <translation>network drives.</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="144"/>
        <source>Чтобы пересылать файлы между двумя </source>
        <translation>To send files between two </translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="145"/>
        <source>компьютерами - эта программа</source>
        <translation>computers, this program</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="146"/>
        <source>должна быть запущена на обоих компьютерах.</source>
        <translation>must run on both computers.</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="148"/>
        <source>Интерфейс программы прост и не требует </source>
        <translation>The program&apos;s interface is simple and needs </translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="149"/>
        <source>пояснений.</source>
        <translation>no explanation.</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="151"/>
        <source>При выборе файлов для копирования - </source>
        <translation>When choosing files to copy, </translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="152"/>
        <source>поддерживается </source>
        <translation>drag and drop </translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="153"/>
        <source>механизим Drag and Drop.</source>
        <translation>is supported.</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="156"/>
        <source>Используемые порты : 573 и 574.</source>
        <translation>Ports used: 573 and 574.</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="172"/>
        <source>Настройки, списки файлов и сообщения</source>
        <translation>Settings, file lists and messages</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="173"/>
        <source>хранятся в папке :</source>
        <translation>are kept in the folder:</translation>
    </message>
    <message>
        <location filename="../app/About.cpp" line="227"/>
        <source>Язык окна сменится при следующем запуске программы.</source>
        <translation>The window&apos;s language changes at the next start of the program.</translation>
    </message>
</context>
<context>
    <name>TChatPane</name>
    <message>
        <location filename="../app/ChatPane.cpp" line="29"/>
        <source>Общаться : </source>
        <translation>Chat: </translation>
    </message>
    <message>
        <location filename="../app/ChatPane.cpp" line="36"/>
        <source>Удалить сообщения ...</source>
        <translation>Delete the messages ...</translation>
    </message>
    <message>
        <location filename="../app/ChatPane.cpp" line="38"/>
        <source>Послать сообщение</source>
        <translation>Send the message</translation>
    </message>
    <message>
        <location filename="../app/ChatPane.cpp" line="40"/>
        <source>Текст сообщения ...</source>
        <translation>Message text ...</translation>
    </message>
    <message>
        <location filename="../app/ChatPane.cpp" line="91"/>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <location filename="../app/ChatPane.cpp" line="91"/>
        <source>Удалить все сообщения ?</source>
        <translation>Delete all messages?</translation>
    </message>
    <message>
        <location filename="../app/ChatPane.cpp" line="31"/>
        <source>Чат</source>
        <translation>Chat</translation>
    </message>
    <message>
        <location filename="../app/ChatPane.cpp" line="41"/>
        <source>Сообщение в чат</source>
        <translation>Chat message</translation>
    </message>
    <message>
        <location filename="../app/ChatPane.cpp" line="44"/>
        <source>Переписка</source>
        <translation>Chat history</translation>
    </message>
</context>
<context>
    <name>TComputersView</name>
    <message>
        <location filename="../app/ComputersView.cpp" line="13"/>
        <location filename="../app/ComputersView.cpp" line="14"/>
        <location filename="../app/ComputersView.cpp" line="16"/>
        <source>Компьютеры в сети</source>
        <translation>Computers on the network</translation>
    </message>
    <message>
        <location filename="../app/ComputersView.cpp" line="18"/>
        <source>Поиск компьютеров</source>
        <translation>Looking for computers</translation>
    </message>
    <message>
        <location filename="../app/ComputersView.cpp" line="37"/>
        <source> (это имя у нескольких)</source>
        <translation> (several have this name)</translation>
    </message>
    <message>
        <location filename="../app/ComputersView.cpp" line="39"/>
        <source> (сейчас не виден)</source>
        <translation> (not seen now)</translation>
    </message>
    <message>
        <location filename="../app/ComputersView.cpp" line="49"/>
        <source>Компьютеры не находятся сами: нет системной шины D-Bus. Введите имя.</source>
        <translation>Computers are not found by themselves: there is no system D-Bus. Type a name.</translation>
    </message>
    <message>
        <location filename="../app/ComputersView.cpp" line="51"/>
        <source>Компьютеры не находятся сами: служба Avahi (avahi-daemon) не запущена. Введите имя.</source>
        <translation>Computers are not found by themselves: the Avahi service (avahi-daemon) is not running. Type a name.</translation>
    </message>
    <message>
        <location filename="../app/ComputersView.cpp" line="53"/>
        <source>Компьютеры не находятся сами: служба Avahi остановилась. Введите имя.</source>
        <translation>Computers are not found by themselves: the Avahi service has stopped. Type a name.</translation>
    </message>
    <message>
        <location filename="../app/ComputersView.cpp" line="55"/>
        <source>Служба Avahi снова работает: компьютеры находятся сами.</source>
        <translation>The Avahi service works again: computers are found by themselves.</translation>
    </message>
    <message>
        <location filename="../app/ComputersView.cpp" line="68"/>
        <source>Компьютеры не найдены</source>
        <translation>No computers found</translation>
    </message>
</context>
<context>
    <name>TFolderDialog</name>
    <message>
        <location filename="../app/Dialogs.cpp" line="112"/>
        <source>The specified directory does not exist. Create it?</source>
        <translation>The specified directory does not exist. Create it?</translation>
    </message>
    <message>
        <location filename="../app/Dialogs.cpp" line="122"/>
        <source>Выберите папку, куда копировать принятые файлы.
Можно ввести имя новой папки: программа создаст её.</source>
        <translation>Choose the folder for received files.
You may type the name of a new folder: the program creates it.</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <location filename="../app/Form1.cpp" line="77"/>
        <source>Копирование файлов по сети</source>
        <translation>Copying files over the network</translation>
    </message>
    <message>
        <location filename="../app/Form1.cpp" line="199"/>
        <source>Принятые</source>
        <translation>Received</translation>
    </message>
    <message>
        <location filename="../app/Form1.cpp" line="200"/>
        <source>Послать</source>
        <translation>Send</translation>
    </message>
    <message>
        <location filename="../app/Form1Facts.cpp" line="157"/>
        <source>Сообщение слишком длинное: %1 символов, можно не более %2.</source>
        <translation>The message is too long: %1 characters, at most %2 are allowed.</translation>
    </message>
    <message>
        <location filename="../app/Form1Session.cpp" line="86"/>
        <source>Файл ключа этого компьютера был повреждён, создан новый ключ. Компьютеры, которые помнят старый ключ, спросят о новом.</source>
        <translation>This computer&apos;s key file was damaged; a new key was made. Computers that remember the old key will ask about the new one.</translation>
    </message>
    <message>
        <location filename="../app/Form1Session.cpp" line="121"/>
        <source>Папка «%1» не отправлена: программа на другом компьютере принимает только отдельные файлы.</source>
        <translation>The folder “%1” was not sent: the program on the other computer takes single files only.</translation>
    </message>
    <message>
        <location filename="../app/Form1Session.cpp" line="140"/>
        <source> (порты ниже 1024 доступны только root или программе с правом cap_net_bind_service)</source>
        <translation> (ports below 1024 are open only to root or to a program with the cap_net_bind_service right)</translation>
    </message>
    <message>
        <location filename="../app/Form1Session.cpp" line="143"/>
        <source> (порт занят другой программой, возможно второй копией Dizaruz)</source>
        <translation> (the port is taken by another program, perhaps a second copy of Dizaruz)</translation>
    </message>
    <message>
        <location filename="../app/Form1Session.cpp" line="144"/>
        <source>Порт %1 не открыт для приема: %2</source>
        <translation>Port %1 is not open for receiving: %2</translation>
    </message>
    <message>
        <location filename="../app/Form1Session.cpp" line="149"/>
        <source>
Этот компьютер не сможет принимать сообщения и файлы.</source>
        <translation>
This computer cannot receive messages and files.</translation>
    </message>
    <message>
        <location filename="../app/Form1Session.cpp" line="250"/>
        <source>Прощание не доставлено: другой компьютер не отвечает</source>
        <translation>The goodbye could not be delivered: the other computer does not answer</translation>
    </message>
    <message>
        <location filename="../app/Form1Session.cpp" line="275"/>
        <source>Некорректное имя компьютера или он недоступен</source>
        <translation>Wrong computer name, or the computer cannot be reached</translation>
    </message>
    <message>
        <location filename="../app/Form1.cpp" line="182"/>
        <source>Файлы</source>
        <translation>Files</translation>
    </message>
    <message>
        <location filename="../app/Form1.cpp" line="183"/>
        <source>Страницы файлов</source>
        <translation>File pages</translation>
    </message>
</context>
<context>
    <name>TForm1Desktop</name>
    <message>
        <location filename="../app/Form1Desktop.cpp" line="77"/>
        <source>Принят %1 файл</source>
        <translation>Files received: %1</translation>
    </message>
    <message>
        <location filename="../app/Form1Desktop.cpp" line="79"/>
        <source>Принято %1 файла</source>
        <translation>Files received: %1</translation>
    </message>
    <message>
        <location filename="../app/Form1Desktop.cpp" line="80"/>
        <source>Принято %1 файлов</source>
        <translation>Files received: %1</translation>
    </message>
    <message>
        <location filename="../app/Form1Desktop.cpp" line="97"/>
        <source>Dizaruz: файлы приняты</source>
        <translation>Dizaruz: files received</translation>
    </message>
    <message>
        <location filename="../app/Form1Desktop.cpp" line="98"/>
        <source> от компьютера </source>
        <translation> from computer </translation>
    </message>
    <message>
        <location filename="../app/Form1Desktop.cpp" line="99"/>
        <location filename="../app/Form1Desktop.cpp" line="100"/>
        <source>Открыть папку</source>
        <translation>Open folder</translation>
    </message>
</context>
<context>
    <name>TLinkBadge</name>
    <message>
        <location filename="../app/LinkBadge.cpp" line="47"/>
        <source>Коды совпадают: подтвердить ключ</source>
        <translation>The codes match: confirm the key</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="48"/>
        <source>Принять новый ключ компьютера</source>
        <translation>Accept the computer&apos;s new key</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="49"/>
        <source>Забыть ключ компьютера</source>
        <translation>Forget the computer&apos;s key</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="78"/>
        <source>Связь зашифрована, ключ подтверждён</source>
        <translation>Encrypted link, key confirmed</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="80"/>
        <source>Связь зашифрована, ключ не подтверждён</source>
        <translation>Encrypted link, key not confirmed</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="84"/>
        <source>Связь не зашифрована</source>
        <translation>Link not encrypted</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="110"/>
        <source>Сравните код проверки с кодом в окне другого компьютера: %1</source>
        <translation>Compare the verification code with the one in the other computer&apos;s window: %1</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="113"/>
        <source>Код проверки: %1</source>
        <translation>Verification code: %1</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="115"/>
        <source>Другой компьютер не шифрует связь (старая версия программы)</source>
        <translation>The other computer does not encrypt (an older version of the program)</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="131"/>
        <source>Отклонено незашифрованное сообщение от имени %1: с этим компьютером связь всегда шифруется.</source>
        <translation>Refused a message in clear under the name %1: the link with that computer is always encrypted.</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="134"/>
        <source>Отклонено незашифрованное сообщение от %1 с адреса компьютера, ключ которого запомнен.</source>
        <translation>Refused a message in clear from %1, sent from the address of a computer whose key is remembered.</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="136"/>
        <source>Компьютер %1 пришёл с другим ключом (код проверки %2). Сообщение отклонено. Если это ожидаемо, сравните коды и примите новый ключ.</source>
        <translation>The computer %1 came with another key (verification code %2). The message was refused. If you expected this, compare the codes and accept the new key.</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="140"/>
        <source>Компьютер %1 больше не предлагает шифрование. Сообщение отклонено.</source>
        <translation>The computer %1 no longer offers encryption. The message was refused.</translation>
    </message>
    <message>
        <location filename="../app/LinkBadge.cpp" line="142"/>
        <source>Ключ компьютера %1 не совпадает с объявленным. Сообщение отклонено.</source>
        <translation>The key of the computer %1 differs from the one it announced. The message was refused.</translation>
    </message>
</context>
<context>
    <name>TOpenDialogOptions</name>
    <message>
        <location filename="../app/Dialogs.h" line="31"/>
        <source>Все файлы (*)</source>
        <translation>All files (*)</translation>
    </message>
</context>
<context>
    <name>TPeerBox</name>
    <message>
        <location filename="../app/PeerBox.cpp" line="43"/>
        <source>Наш компьютер : </source>
        <translation>This computer: </translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="47"/>
        <location filename="../app/PeerBox.cpp" line="58"/>
        <source>Имя = </source>
        <translation>Name:</translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="54"/>
        <source>Удаленный компьтер : </source>
        <translation>Other computer: </translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="62"/>
        <source>Соединиться с компьютером</source>
        <translation>Connect to the computer</translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="45"/>
        <source>Этот компьютер</source>
        <translation>This computer</translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="49"/>
        <source>Имя этого компьютера</source>
        <translation>This computer&apos;s name</translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="52"/>
        <source>Адрес этого компьютера</source>
        <translation>This computer&apos;s address</translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="56"/>
        <source>Другой компьютер</source>
        <translation>Other computer</translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="60"/>
        <source>Имя другого компьютера</source>
        <translation>Other computer&apos;s name</translation>
    </message>
    <message>
        <location filename="../app/PeerBox.cpp" line="65"/>
        <source>Адрес другого компьютера</source>
        <translation>Other computer&apos;s address</translation>
    </message>
</context>
<context>
    <name>TProgressRow</name>
    <message>
        <location filename="../app/ProgressRow.cpp" line="35"/>
        <source>Прервать передачу (Esc)</source>
        <translation>Stop the transfer (Esc)</translation>
    </message>
    <message>
        <location filename="../app/ProgressRow.cpp" line="39"/>
        <source>Скорость и оставшееся время</source>
        <translation>Speed and time left</translation>
    </message>
    <message>
        <location filename="../app/ProgressRow.cpp" line="46"/>
        <source>Передача файла</source>
        <translation>File transfer</translation>
    </message>
    <message>
        <location filename="../app/ProgressRow.cpp" line="124"/>
        <source> из </source>
        <translation> of </translation>
    </message>
    <message>
        <location filename="../app/ProgressRow.cpp" line="41"/>
        <location filename="../app/ProgressRow.cpp" line="132"/>
        <source>/с</source>
        <translation>/s</translation>
    </message>
    <message>
        <location filename="../app/ProgressRow.cpp" line="184"/>
        <source>Файлов отправлено %1 из %2, %3 из %4</source>
        <translation>Files sent %1 of %2, %3 of %4</translation>
    </message>
    <message>
        <location filename="../app/ProgressRow.cpp" line="32"/>
        <source>Ход передачи</source>
        <translation>Transfer progress</translation>
    </message>
</context>
<context>
    <name>TQtDialogs</name>
    <message>
        <location filename="../app/Dialogs.cpp" line="25"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../app/Dialogs.cpp" line="26"/>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>TReceivePage</name>
    <message>
        <location filename="../app/ReceivePage.cpp" line="59"/>
        <source>Проверен: хеш XXH3-128 совпал с хешем отправителя</source>
        <translation>Verified: its XXH3-128 hash matched the sender’s</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="76"/>
        <source>Очистить список файлов</source>
        <translation>Clear the file list</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="78"/>
        <source>Выбрать папку, куда копировать</source>
        <translation>Choose the folder to copy into</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="87"/>
        <source>Идет прием ...</source>
        <translation>Receiving ...</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="103"/>
        <source>Открыть</source>
        <translation>Open</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="105"/>
        <source>Показать в папке</source>
        <translation>Show in folder</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="141"/>
        <source>Файла больше нет в папке приема:
</source>
        <translation>The file is no longer in the receive folder:
</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="148"/>
        <location filename="../app/ReceivePage.cpp" line="157"/>
        <source>Ошибка при открытии документа : </source>
        <translation>Error opening the document: </translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="76"/>
        <source>Очистить список принятых</source>
        <translation>Clear the received list</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="92"/>
        <source>Принятые файлы</source>
        <translation>Received files</translation>
    </message>
    <message>
        <location filename="../app/ReceivePage.cpp" line="83"/>
        <source>Папка приема</source>
        <translation>Receive folder</translation>
    </message>
</context>
<context>
    <name>TSendPage</name>
    <message>
        <location filename="../app/SendPage.cpp" line="37"/>
        <source>  (папку не прочесть)</source>
        <translation>  (the folder cannot be read)</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="38"/>
        <source>  (папка: файлов %1, %2)</source>
        <translation>  (folder: %1 files, %2)</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="57"/>
        <location filename="../app/SendPage.cpp" line="92"/>
        <source>Добавить файл(ы) в список</source>
        <translation>Add file(s) to the list</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="59"/>
        <location filename="../app/SendPage.cpp" line="142"/>
        <source>Добавить папку в список</source>
        <translation>Add a folder to the list</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="61"/>
        <location filename="../app/SendPage.cpp" line="88"/>
        <source>Удалить файл из списка</source>
        <translation>Remove the file from the list</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="63"/>
        <source>Очистить список файлов</source>
        <translation>Clear the file list</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="65"/>
        <source>Отправить файлы по списку</source>
        <translation>Send the files of the list</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="66"/>
        <source>Идет передача ...</source>
        <translation>Sending ...</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="74"/>
        <source>Передано по списку</source>
        <translation>Sent from the list</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="86"/>
        <source>Добавить файл в список</source>
        <translation>Add a file to the list</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="90"/>
        <source>Очистить весь список</source>
        <translation>Clear the whole list</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="219"/>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="219"/>
        <source>Очистить список файлов ?</source>
        <translation>Clear the file list?</translation>
    </message>
    <message>
        <location filename="../app/SendPage.cpp" line="78"/>
        <source>Список для отправки</source>
        <translation>Send list</translation>
    </message>
</context>
<context>
    <name>TStatusBar</name>
    <message>
        <location filename="../app/StatusBar.cpp" line="22"/>
        <source>Строка состояния</source>
        <translation>Status bar</translation>
    </message>
    <message>
        <location filename="../app/StatusBar.cpp" line="31"/>
        <source>О программе</source>
        <translation>About</translation>
    </message>
</context>
</TS>
