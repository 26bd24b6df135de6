<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>Cli</name>
    <message>
        <source>item number "%1" is not a whole number of 32 bits</source>
        <translation>权限ID "%1" 不是 32 位整数</translation>
    </message>
    <message>
        <source>%1 "%2" is not a date: yyyy-mm-dd</source>
        <translation>%1 "%2" 不是日期: 应为 yyyy-mm-dd</translation>
    </message>
    <message>
        <source>no user group %1</source>
        <translation>没有用户组 %1</translation>
    </message>
    <message>
        <source>no item %1</source>
        <translation>没有权限项 %1</translation>
    </message>
    <message>
        <source>no user %1</source>
        <translation>没有用户 %1</translation>
    </message>
    <message>
        <source>%1 is a member of user group %2: its permission groups and rights are the group's</source>
        <translation>%1 是用户组 %2 的成员: 它的权限组和权限都是该组的</translation>
    </message>
    <message>
        <source>no permission group %1</source>
        <translation>没有权限组 %1</translation>
    </message>
    <message>
        <source>permission group %1 is not listed for %2</source>
        <translation>权限组 %1 不在 %2 的权限组列表中</translation>
    </message>
    <message>
        <source>%1 %2 permission group %3 already; nothing to change</source>
        <translation>%1 已经 %2 权限组 %3; 无需更改</translation>
    </message>
    <message>
        <source>permission group %1 %2 item %3 already; nothing to change</source>
        <translation>权限组 %1 已经 %2 权限项 %3; 无需更改</translation>
    </message>
    <message>
        <source>the destination has no table %1: run vardex-cli upgrade on it first</source>
        <translation>目标库没有表 %1: 请先对它运行 vardex-cli upgrade</translation>
    </message>
    <message>
        <source>the destination has no store (install it first): %1</source>
        <translation>目标库中没有权限库 (请先导入数据表): %1</translation>
    </message>
    <message>
        <source>the destination is not empty: %1 holds %2 row(s)</source>
        <translation>目标库不是空的: %1 有 %2 行</translation>
    </message>
    <message>
        <source>%1 row %2, column %3: %4, which the store's column cannot hold as it is; nothing was copied</source>
        <translation>%1 第 %2 行, 列 %3: %4, 权限库的这一列无法原样保存; 没有复制任何数据</translation>
    </message>
    <message>
        <source>verification failed: %1 has %2 row(s) in the copy, %3 in the source</source>
        <translation>校验不成功: %1 在副本中有 %2 行, 在源库中有 %3 行</translation>
    </message>
    <message>
        <source>verification failed: the rows of %1 differ</source>
        <translation>校验不成功: %1 的数据不一致</translation>
    </message>
    <message>
        <source>--batch takes a number from 1 to 1000</source>
        <translation>--batch 的值应为 1 到 1000 之间的数</translation>
    </message>
    <message>
        <source>%1 %2 row(s) of %3 tables in %4 s; counts and contents agree</source>
        <translation>%1 %3 个表共 %2 行, 用时 %4 秒; 行数和内容一致</translation>
    </message>
    <message>
        <source>%1 holds item %2 through no permission group; nothing to change</source>
        <translation>%1 没有通过任何权限组拥有权限项 %2; 无需更改</translation>
    </message>
    <message>
        <source>unassigned permission group %1</source>
        <translation>已取消权限组 %1</translation>
    </message>
    <message>
        <source>item %1 exists</source>
        <translation>权限ID %1 已存在!</translation>
    </message>
    <message>
        <source>list what? one of %1, not %2</source>
        <translation>列出什么? 应为 %1 之一, 而不是 %2</translation>
    </message>
    <message>
        <source>--user goes with list grants</source>
        <translation>--user 只能与 list grants 一起使用</translation>
    </message>
    <message>
        <source>no user %1 (--name finds rows by the name they carry)</source>
        <translation>没有用户 %1 (--name 按记录中的姓名查找)</translation>
    </message>
    <message>
        <source>log clear needs --before T</source>
        <translation>log clear 需要 --before T</translation>
    </message>
    <message>
        <source>%1 audit row(s) at or before %2 go</source>
        <translation>将删除 %2 及以前的 %1 条日志记录</translation>
    </message>
    <message>
        <source>"%1" is neither on nor off</source>
        <translation>"%1" 既不是 on 也不是 off</translation>
    </message>
    <message>
        <source>permission group %1 exists</source>
        <translation>组名称"%1"已存在!</translation>
    </message>
    <message>
        <source>give at least one NAME=VALUE</source>
        <translation>请至少给出一个 NAME=VALUE</translation>
    </message>
    <message>
        <source>"%1" is not NAME=VALUE</source>
        <translation>"%1" 不是 NAME=VALUE 形式</translation>
    </message>
    <message>
        <source>the store has no settings table: run vardex-cli upgrade first</source>
        <translation>权限库没有设置表: 请先运行 vardex-cli upgrade</translation>
    </message>
    <message>
        <source>the store is secured, and its functions take bcrypt hashes only: run vardex-cli secure --undo first</source>
        <translation>权限库已加固, 它的函数只接受 bcrypt 散列: 请先运行 vardex-cli secure --undo</translation>
    </message>
    <message>
        <source>%1 setting(s) set</source>
        <translation>已设置 %1 项</translation>
    </message>
    <message>
        <source>no password for --known-user: give --known-password-file FILE or VARDEX_KNOWN_PASSWORD, or run on a terminal to be asked</source>
        <translation>--known-user 没有密码: 请给出 --known-password-file FILE 或 VARDEX_KNOWN_PASSWORD, 或在终端上运行以便输入</translation>
    </message>
    <message>
        <source>%1 has no password held as cipher text: name with --known-user a user whose password still is; nothing was changed</source>
        <translation>%1 的密码不是以密文保存的: 请用 --known-user 指定一个密码仍为密文的用户; 没有更改任何数据</translation>
    </message>
    <message>
        <source>%1's cipher text does not decipher under this key to the password given: the key (or the password) is wrong; nothing was changed</source>
        <translation>%1 的密文用此密码加密因子解密后不是所给的密码: 加密因子 (或密码) 不正确; 没有更改任何数据</translation>
    </message>
    <message>
        <source>give the cipher key of the stored passwords with --key (the library's and the host's default keys differ)</source>
        <translation>请用 --key 给出已存密码的密码加密因子 (库和管理工具的默认加密因子不同)</translation>
    </message>
    <message>
        <source>the store's password.hash is cipher: set password.hash=bcrypt first</source>
        <translation>权限库的 password.hash 为 cipher: 请先设置 password.hash=bcrypt</translation>
    </message>
    <message>
        <source>give --known-user ID: a user whose password is still cipher text and is known, which proves the key</source>
        <translation>请给出 --known-user ID: 一个密码仍为密文且已知的用户, 用以证明加密因子</translation>
    </message>
    <message>
        <source>%1 of %2 stored password(s) do not decipher under this key to valid text; nothing was changed</source>
        <translation>%2 个已存密码中有 %1 个用此加密因子解密后不是有效文本; 没有更改任何数据</translation>
    </message>
    <message>
        <source>%1 password(s) upgraded</source>
        <translation>已升级 %1 个密码</translation>
    </message>
    <message>
        <source>%1 is not locked; nothing to change</source>
        <translation>%1 没有被锁定; 无需更改</translation>
    </message>
    <message>
        <source>secure needs --client-role ROLE</source>
        <translation>secure 需要 --client-role ROLE</translation>
    </message>
    <message>
        <source>cannot open the store: %1</source>
        <translation>无法打开权限库: %1</translation>
    </message>
    <message>
        <source>the store has no table %1: run vardex-cli upgrade on it first</source>
        <translation>权限库没有表 %1: 请先对它运行 vardex-cli upgrade</translation>
    </message>
    <message>
        <source>the store cannot be exported (vardex-cli doctor lists it): %1</source>
        <translation>权限库无法导出 (vardex-cli doctor 会列出原因): %1</translation>
    </message>
    <message>
        <source>the store is not empty: %1 holds %2 row(s)</source>
        <translation>权限库不是空的: %1 有 %2 行</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>无法写入 %1: %2</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>无法读取 %1: %2</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>give one of --new-password-file, --ask-password and --no-password</source>
        <translation>请给出 --new-password-file、--ask-password 和 --no-password 之一</translation>
    </message>
    <message>
        <source>no new password: give --new-password-file FILE or VARDEX_NEW_PASSWORD, run on a terminal to be asked, or pass --no-password for none</source>
        <translation>没有新密码: 请给出 --new-password-file FILE 或 VARDEX_NEW_PASSWORD, 或在终端上运行以便输入, 或用 --no-password 表示不设密码</translation>
    </message>
    <message>
        <source>the two passwords differ</source>
        <translation>新密码和重复输入的新密码必须一致!</translation>
    </message>
    <message>
        <source>%1 is empty: pass --no-password for a user without a password</source>
        <translation>%1 是空的: 没有密码的用户请用 --no-password</translation>
    </message>
    <message>
        <source>the password is longer than %1 bytes, of which bcrypt (the store's password.hash) would use only the first %1</source>
        <translation>新密码太长(超过 %1 字节)! bcrypt (权限库的 password.hash) 只使用前 %1 字节</translation>
    </message>
    <message>
        <source>the password has fewer than %1 characters (the store's password.minlength)</source>
        <translation>新密码不符合密码规则(长度不够)! 至少 %1 个字符 (权限库的 password.minlength)</translation>
    </message>
    <message>
        <source>discount "%1" is not a whole number from 0 to 100</source>
        <translation>折扣 "%1" 不是 0 到 100 之间的整数</translation>
    </message>
    <message>
        <source>%1 is a user group, not a user</source>
        <translation>%1 是用户组, 不是用户</translation>
    </message>
    <message>
        <source>the stored password of %1 cannot be read: %2</source>
        <translation>无法读取 %1 的已存密码: %2</translation>
    </message>
    <message>
        <source>%1 is already %2; nothing to change</source>
        <translation>%1 已经是 %2; 无需更改</translation>
    </message>
    <message>
        <source>user %1 exists</source>
        <translation>用户ID"%1"已存在!</translation>
    </message>
    <message>
        <source>--group and --no-group exclude each other</source>
        <translation>--group 和 --no-group 不能同时使用</translation>
    </message>
    <message>
        <source>--enable and --disable exclude each other</source>
        <translation>--enable 和 --disable 不能同时使用</translation>
    </message>
    <message>
        <source>give exactly one of --group and --no-group</source>
        <translation>请给出 --group 和 --no-group 之一</translation>
    </message>
    <message>
        <source>%1 is a user group: delete it with usergroup delete</source>
        <translation>%1 是用户组: 请用 usergroup delete 删除它</translation>
    </message>
    <message>
        <source>user or user group %1 exists</source>
        <translation>用户组名称不能与已有组,或用户名称重复! (%1)</translation>
    </message>
    <message>
        <source>user group %1 goes with its %2 member(s)%3%4</source>
        <translation>将删除用户组 %1 及其 %2 个成员%3%4</translation>
    </message>
    <message>
        <source>%1 deletes and standard input is no terminal to ask on: pass --yes to do it, or --dry-run to see what it would do</source>
        <translation>%1 会删除数据, 而标准输入不是可以询问的终端: 请用 --yes 执行, 或用 --dry-run 查看它将做什么</translation>
    </message>
    <message>
        <source>not done: the answer was no</source>
        <translation>未执行: 回答为否</translation>
    </message>
    <message>
        <source>no store given: pass --store CONNSTR or set VARDEX_STORE</source>
        <translation>没有给出权限库: 请用 --store CONNSTR 或设置 VARDEX_STORE</translation>
    </message>
    <message>
        <source>%1 is not valid UTF-8 text</source>
        <translation>%1 不是有效的 UTF-8 文本</translation>
    </message>
    <message>
        <source>cannot read the %1 file %2: %3</source>
        <translation>无法读取 %1 文件 %2: %3</translation>
    </message>
    <message>
        <source>the %1 file %2 may be read by others: allow its owner only (chmod 600)</source>
        <translation>%1 文件 %2 可被他人读取: 请只允许其所有者读取 (chmod 600)</translation>
    </message>
    <message>
        <source>the first line of the %1 file %2 is longer than %3 bytes</source>
        <translation>%1 文件 %2 的第一行超过 %3 字节</translation>
    </message>
    <message>
        <source>the %1 file %2 holds a NUL byte</source>
        <translation>%1 文件 %2 含有 NUL 字节</translation>
    </message>
    <message>
        <source>what was typed holds a NUL byte</source>
        <translation>输入的内容含有 NUL 字节</translation>
    </message>
    <message>
        <source>--password is not an option of this verb: the database account's password is --db-password (or --password-file, VARDEX_PASSWORD); a user's own comes from --new-password-file, VARDEX_NEW_PASSWORD or a prompt</source>
        <translation>--password 不是此命令的选项: 数据库账号的密码用 --db-password (或 --password-file, VARDEX_PASSWORD); 用户自己的密码来自 --new-password-file、VARDEX_NEW_PASSWORD 或提示输入</translation>
    </message>
    <message>
        <source>cannot write the trace file %1: %2</source>
        <translation>无法写入跟踪文件 %1: %2</translation>
    </message>
    <message>
        <source>--json and --csv exclude each other</source>
        <translation>--json 和 --csv 不能同时使用</translation>
    </message>
    <message>
        <source>cannot open the %1: %2</source>
        <translation>无法打开%1: %2</translation>
    </message>
    <message>
        <source>%1 "%2" is not a whole number of 32 bits</source>
        <translation>%1 "%2" 不是 32 位整数</translation>
    </message>
    <message>
        <source>%1 "%2" is not a time: yyyy-mm-dd or yyyy-mm-dd hh:mm:ss</source>
        <translation>%1 "%2" 不是时间: 应为 yyyy-mm-dd 或 yyyy-mm-dd hh:mm:ss</translation>
    </message>
    <message>
        <source>unexpected argument %1</source>
        <translation>多余的参数 %1</translation>
    </message>
    <message>
        <source>sent: </source>
        <translation>发送: </translation>
    </message>
    <message>
        <source>%1 ended its work outside a transaction of vardex-cli: --dry-run cannot vouch that nothing changed</source>
        <translation>%1 在 vardex-cli 的事务之外结束了工作: --dry-run 不能保证没有更改任何数据</translation>
    </message>
    <message>
        <source>-q and -v exclude each other</source>
        <translation>-q 和 -v 不能同时使用</translation>
    </message>
    <message>
        <source>%1 takes %2</source>
        <translation>%1 的参数为 %2</translation>
    </message>
    <message>
        <source>help: unknown verb %1</source>
        <translation>help: 未知命令 %1</translation>
    </message>
    <message>
        <source>unknown verb %1</source>
        <translation>未知命令 %1</translation>
    </message>
    <message>
        <source>cannot open the store%1%2</source>
        <translation>无法打开权限库%1%2</translation>
    </message>
    <message>
        <source>Password of %1: </source>
        <translation>%1 的密码: </translation>
    </message>
    <message>
        <source>the new password file</source>
        <translation>新密码文件</translation>
    </message>
    <message>
        <source>New password: </source>
        <translation>新口令：</translation>
    </message>
    <message>
        <source>the password typed</source>
        <translation>输入的密码</translation>
    </message>
    <message>
        <source>Again: </source>
        <translation>重复输入新口令：</translation>
    </message>
    <message>
        <source>enabled</source>
        <translation>有效</translation>
    </message>
    <message>
        <source>disabled</source>
        <translation>无效</translation>
    </message>
    <message>
        <source>Password for %1: </source>
        <translation>%1 的密码: </translation>
    </message>
    <message>
        <source>unknown verb %1 %2; one of: %3</source>
        <translation>未知命令 %1 %2; 应为以下之一: %3</translation>
    </message>
    <message>
        <source>%1 needs one of: %2</source>
        <translation>%1 需要以下之一: %2</translation>
    </message>
    <message>
        <source>the store is at version %1, the newest</source>
        <translation>数据库是版本 %1, 即最新版本</translation>
    </message>
    <message>
        <source>the store is at version %1; %2 step(s) to version %3 are pending: run vardex-cli upgrade</source>
        <translation>数据库是版本 %1; 到版本 %3 还有 %2 个步骤: 请运行 vardex-cli upgrade</translation>
    </message>
    <message>
        <source>the store is at version %1; its secured functions are an older version's: run vardex-cli upgrade</source>
        <translation>数据库是版本 %1; 它的加固函数是旧版本的: 请运行 vardex-cli upgrade</translation>
    </message>
    <message>
        <source>%1 rights-holding rows, %2 items, %3 permission groups: %4 violation(s)%5</source>
        <translation>%1 个持有权限的行, %2 个权限项, %3 个权限组: %4 处不一致%5</translation>
    </message>
    <message>
        <source>, repaired</source>
        <translation>, 已修复</translation>
    </message>
    <message>
        <source>%1 violation(s) remain after the repair</source>
        <translation>修复后仍有 %1 处不一致</translation>
    </message>
    <message>
        <source>cannot connect: %1</source>
        <translation>无法连接数据库: %1</translation>
    </message>
    <message>
        <source>the stored script cannot be read: %1</source>
        <translation>无法读取内置的导入脚本: %1</translation>
    </message>
    <message>
        <source>batch %1: %2</source>
        <translation>第 %1 批: %2</translation>
    </message>
    <message>
        <source>%1 batches</source>
        <translation>共 %1 批</translation>
    </message>
    <message>
        <source>the store is at version %1</source>
        <translation>数据库是版本 %1</translation>
    </message>
    <message>
        <source>the store records no version; what it holds is version %1</source>
        <translation>数据库没有记录版本; 它的内容是版本 %1</translation>
    </message>
    <message>
        <source>step %1: %2</source>
        <translation>步骤 %1: %2</translation>
    </message>
    <message>
        <source>%1 step(s) from version %2 to %3</source>
        <translation>从版本 %2 到 %3 共 %1 个步骤</translation>
    </message>
    <message>
        <source>the store is at version %1 (was %2)</source>
        <translation>数据库已升级到版本 %1. (原为 %2)</translation>
    </message>
</context>
</TS>