<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Ui</name>
    <message>
        <source>用户退出登录</source>
        <translation>User logged out</translation>
    </message>
    <message>
        <source>用户更改密码成功</source>
        <translation>Password changed</translation>
    </message>
    <message>
        <source>账号锁定</source>
        <translation>Account locked</translation>
    </message>
    <message>
        <source>账号解锁</source>
        <translation>Account unlocked</translation>
    </message>
    <message>
        <source>使用权限(%1)</source>
        <translation>Right used (%1)</translation>
    </message>
    <message>
        <source>登录失败(%1)</source>
        <translation>Login failed (%1)</translation>
    </message>
    <message>
        <source>用户登录</source>
        <comment>an audit event</comment>
        <translation>User logged in</translation>
    </message>
    <message>
        <source>无此用户</source>
        <comment>why a login failed</comment>
        <translation>no such user</translation>
    </message>
    <message>
        <source>账号禁用</source>
        <comment>why a login failed</comment>
        <translation>account disabled</translation>
    </message>
    <message>
        <source>账号过期</source>
        <comment>why a login failed</comment>
        <translation>account expired</translation>
    </message>
    <message>
        <source>密码错误</source>
        <comment>why a login failed</comment>
        <translation>wrong password</translation>
    </message>
    <message>
        <source>账号锁定</source>
        <comment>why a login failed</comment>
        <translation>account locked</translation>
    </message>
    <message>
        <source>用户权限管理</source>
        <translation>User Permission Management</translation>
    </message>
    <message>
        <source>用户列表:</source>
        <translation>Users:</translation>
    </message>
    <message>
        <source>权限组列表:</source>
        <translation>Permission groups:</translation>
    </message>
    <message>
        <source>组权限设置列表:</source>
        <translation>Group permissions:</translation>
    </message>
    <message>
        <source>用户(组)名</source>
        <translation>User (group) name</translation>
    </message>
    <message>
        <source>允许</source>
        <translation>On</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>起始日期,组的起始日期为000000</source>
        <translation>Start date (000000 for a group)</translation>
    </message>
    <message>
        <source>到期日期</source>
        <translation>Expiry date</translation>
    </message>
    <message>
        <source>折扣率</source>
        <translation>Discount</translation>
    </message>
    <message>
        <source>用户ID</source>
        <translation>User ID</translation>
    </message>
    <message>
        <source>权限组名称</source>
        <translation>Permission group</translation>
    </message>
    <message>
        <source>权限名称</source>
        <translation>Permission</translation>
    </message>
    <message>
        <source>添加用户</source>
        <translation>Add User</translation>
    </message>
    <message>
        <source>删除用户</source>
        <translation>Delete User</translation>
    </message>
    <message>
        <source>用户信息编辑</source>
        <translation>Edit User Details</translation>
    </message>
    <message>
        <source>添加用户组</source>
        <translation>Add User Group</translation>
    </message>
    <message>
        <source>添加权限组</source>
        <translation>Add Permission Group</translation>
    </message>
    <message>
        <source>删除权限组</source>
        <translation>Delete Permission Group</translation>
    </message>
    <message>
        <source>取消(&amp;C)</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>保存(&amp;S)</source>
        <translation>&amp;Save</translation>
    </message>
    <message>
        <source>确定(&amp;O)</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>添加用户(&amp;A)</source>
        <translation>&amp;Add User</translation>
    </message>
    <message>
        <source>删除用户(&amp;D)</source>
        <translation>&amp;Delete User</translation>
    </message>
    <message>
        <source>编辑(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>添加权限组(&amp;A)</source>
        <translation>&amp;Add Permission Group</translation>
    </message>
    <message>
        <source>删除权限组(&amp;D)</source>
        <translation>&amp;Delete Permission Group</translation>
    </message>
    <message>
        <source>用户列表:(</source>
        <translation>Users: (</translation>
    </message>
    <message>
        <source>(组)</source>
        <comment>a user group in the users&apos; title</comment>
        <translation> (user group)</translation>
    </message>
    <message>
        <source>权限组列表:(</source>
        <translation>Permission group: (</translation>
    </message>
    <message>
        <source>权限组列表:(</source>
        <comment>the item list&apos;s title</comment>
        <translation>Item: (</translation>
    </message>
    <message>
        <source>(组)</source>
        <comment>a head item in the item list&apos;s title</comment>
        <translation> (head item)</translation>
    </message>
    <message>
        <source>数据更新不成功! 请再试.</source>
        <translation>The data could not be saved. Please try again.</translation>
    </message>
    <message>
        <source>出错</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>数据可能已经更改, 是否先保存数据再退出?</source>
        <translation>The data may have been changed. Save it before closing?</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>编辑用户信息</source>
        <translation>Edit User Details</translation>
    </message>
    <message>
        <source>“</source>
        <translation>“</translation>
    </message>
    <message>
        <source>”不是有效的日期.</source>
        <translation>” is not a valid date.</translation>
    </message>
    <message>
        <source>确实要删除用户组“</source>
        <translation>Are you sure you want to delete the user group “</translation>
    </message>
    <message>
        <source>”及该组所有用户吗?</source>
        <translation>” and all of its users?</translation>
    </message>
    <message>
        <source>确实要删除用户“</source>
        <translation>Are you sure you want to delete the user “</translation>
    </message>
    <message>
        <source>”吗?</source>
        <translation>”?</translation>
    </message>
    <message>
        <source>询问</source>
        <translation>Question</translation>
    </message>
    <message>
        <source>用户组已达999个, 不能再添加用户组.</source>
        <translation>There are already 999 user groups; no more can be added.</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>确实要删除权限组:(</source>
        <translation>Are you sure you want to delete the permission group (</translation>
    </message>
    <message>
        <source>)吗?</source>
        <translation>)?</translation>
    </message>
    <message>
        <source>关闭(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>程序发生意外错误, 请关闭程序, 重量新运行.</source>
        <translation>An unexpected error occurred. Please close the program and start it again.</translation>
    </message>
    <message>
        <source>请输入要添加的组名称(注意不要重复):</source>
        <translation>New group name (must be unique):</translation>
    </message>
    <message>
        <source>组名称不能为空!</source>
        <translation>The group name must not be empty.</translation>
    </message>
    <message>
        <source>组名称&quot;</source>
        <translation>The group name &quot;</translation>
    </message>
    <message>
        <source>&quot;已存在! 请输入一个新组名称.</source>
        <translation>&quot; already exists. Please enter a new group name.</translation>
    </message>
    <message>
        <source>用户组名称不能与已有组,或用户名称重复! 请重新输入.</source>
        <translation>A user group name must differ from every existing group and user name. Please enter another one.</translation>
    </message>
    <message>
        <source>用户ID(&amp;I):</source>
        <translation>User &amp;ID:</translation>
    </message>
    <message>
        <source>用户姓名(&amp;N):</source>
        <translation>&amp;Name:</translation>
    </message>
    <message>
        <source>密码(&amp;P):</source>
        <translation>&amp;Password:</translation>
    </message>
    <message>
        <source>用户组(&amp;Z):</source>
        <translation>User &amp;group:</translation>
    </message>
    <message>
        <source>启用日期(&amp;S):</source>
        <translation>&amp;Start date:</translation>
    </message>
    <message>
        <source>到期日期(&amp;E):</source>
        <translation>&amp;Expiry date:</translation>
    </message>
    <message>
        <source>是否有效</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <source>最高允许折扣:           %</source>
        <translation>Discount:            %</translation>
    </message>
    <message>
        <source>注意:用户ID、姓名不能为空</source>
        <translation>User ID and name are required</translation>
    </message>
    <message>
        <source>用户ID和姓名必须输入,不能为空.</source>
        <translation>The user ID and the name must both be entered.</translation>
    </message>
    <message>
        <source>用户ID&quot;</source>
        <translation>The user ID &quot;</translation>
    </message>
    <message>
        <source>&quot;已存在! 请输入一个新的用户ID.</source>
        <translation>&quot; already exists. Please enter a new user ID.</translation>
    </message>
    <message>
        <source>用户被禁止使用! </source>
        <translation>The user is disabled. </translation>
    </message>
    <message>
        <source>用户使用期限已过! </source>
        <translation>The user account has expired. </translation>
    </message>
    <message>
        <source>密码不正确! </source>
        <translation>The password is incorrect. </translation>
    </message>
    <message>
        <source>无此用户! </source>
        <translation>No such user. </translation>
    </message>
    <message>
        <source>系统登录</source>
        <translation>Log In</translation>
    </message>
    <message>
        <source>请输入您的登录信息:</source>
        <translation>Please enter your login details:</translation>
    </message>
    <message>
        <source>用户名：</source>
        <translation>User ID:</translation>
    </message>
    <message>
        <source>班次：</source>
        <translation>Shift:</translation>
    </message>
    <message>
        <source>口  令：</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>当前时间</source>
        <translation>Current time</translation>
    </message>
    <message>
        <source>请您在%1次之内输入正确的登录信息.</source>
        <translation>You have %1 attempts to log in.</translation>
    </message>
    <message>
        <source>限时登录系统, 请在%1秒之内输入正确的登录信息.</source>
        <translation>Timed login: you have %1 seconds to log in.</translation>
    </message>
    <message>
        <source>用户登录不成功. </source>
        <translation>Login failed. </translation>
    </message>
    <message>
        <source>请检查您输入的信息, 或与系统管理员联系.</source>
        <translation>Please check what you entered, or contact your system administrator.</translation>
    </message>
    <message>
        <source>还有</source>
        <translation>You have </translation>
    </message>
    <message>
        <source>次机会重试.</source>
        <translation> more attempts.</translation>
    </message>
    <message>
        <source>请与系统管理员联系.</source>
        <translation>Please contact your system administrator.</translation>
    </message>
    <message>
        <source>用户登录</source>
        <translation>User Login</translation>
    </message>
    <message>
        <source>权限列表编辑</source>
        <translation>Edit Permission Items</translation>
    </message>
    <message>
        <source>原密码不正确! </source>
        <translation>The old password is incorrect. </translation>
    </message>
    <message>
        <source>新密码不符合密码规则(长度不够)! </source>
        <translation>The new password does not meet the password rules (it is too short). </translation>
    </message>
    <message>
        <source>新密码太长(超过 72 字节)! </source>
        <translation>The new password is too long (over 72 bytes). </translation>
    </message>
    <message>
        <source>修改口令</source>
        <translation>Change Password</translation>
    </message>
    <message>
        <source>输入原口令：</source>
        <translation>Old password:</translation>
    </message>
    <message>
        <source>新口令：</source>
        <translation>New password:</translation>
    </message>
    <message>
        <source>重复输入新口令：</source>
        <translation>Confirm password:</translation>
    </message>
    <message>
        <source>新密码和重复输入的新密码必须一致! 请重新输入.</source>
        <translation>The new password and its confirmation do not match. Please enter them again.</translation>
    </message>
    <message>
        <source>恭喜您! 密码修改成功.</source>
        <translation>Your password has been changed.</translation>
    </message>
    <message>
        <source>修改密码</source>
        <translation>Change Password</translation>
    </message>
    <message>
        <source>不明原因, </source>
        <translation>Unknown reason. </translation>
    </message>
    <message>
        <source>修改密码不成功. 请重试或与系统管理员联系.</source>
        <translation>The password was not changed. Please try again or contact your system administrator.</translation>
    </message>
    <message>
        <source>首记</source>
        <translation>First</translation>
    </message>
    <message>
        <source>上一</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>下一</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>尾记</source>
        <translation>Last</translation>
    </message>
    <message>
        <source>插入</source>
        <translation>Insert</translation>
    </message>
    <message>
        <source>册除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>更新</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>获取连接参数</source>
        <translation>Data Source</translation>
    </message>
    <message>
        <source>SQLite 数据库文件</source>
        <translation>SQLite database file</translation>
    </message>
    <message>
        <source>PostgreSQL 服务器</source>
        <translation>PostgreSQL server</translation>
    </message>
    <message>
        <source>ODBC 连接字符串</source>
        <translation>ODBC connection string</translation>
    </message>
    <message>
        <source>浏览...</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>Driver={...};Server=...;Database=... 或 DSN=...</source>
        <translation>Driver={...};Server=...;Database=... or DSN=...</translation>
    </message>
    <message>
        <source>数据库类型:</source>
        <translation>Database type:</translation>
    </message>
    <message>
        <source>数据库文件:</source>
        <translation>Database file:</translation>
    </message>
    <message>
        <source>服务器:</source>
        <translation>Server:</translation>
    </message>
    <message>
        <source>端口:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>数据库:</source>
        <translation>Database:</translation>
    </message>
    <message>
        <source>ODBC驱动:</source>
        <translation>ODBC driver:</translation>
    </message>
    <message>
        <source>连接字符串:</source>
        <translation>Connection string:</translation>
    </message>
    <message>
        <source>用户ID:</source>
        <translation>User ID:</translation>
    </message>
    <message>
        <source>密码:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>测试连接</source>
        <translation>Test Connection</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>选择 SQLite 数据库文件</source>
        <translation>Choose an SQLite Database File</translation>
    </message>
    <message>
        <source>SQLite 数据库 (*.db *.sqlite *.sqlite3)</source>
        <translation>SQLite databases (*.db *.sqlite *.sqlite3)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>测试连接成功.</source>
        <translation>The connection test succeeded.</translation>
    </message>
    <message>
        <source>测试连接失败: </source>
        <translation>The connection test failed: </translation>
    </message>
    <message>
        <source>数据库尚未连接</source>
        <translation>Not connected to a database</translation>
    </message>
    <message>
        <source>已连接到数据库</source>
        <translation>Connected to the database</translation>
    </message>
    <message>
        <source>可能有些参数设置错误,数据库不能连接成功,请重设或再试.</source>
        <translation>Could not connect to the database; some settings may be wrong. Please correct them or try again.</translation>
    </message>
    <message>
        <source>权限管理应用工具</source>
        <translation>Permission Management Tool</translation>
    </message>
    <message>
        <source>构建参数连接数据库</source>
        <translation>Connect to Database</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>界面语言:</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>密码加密因子:</source>
        <translation>Cipher key:</translation>
    </message>
    <message>
        <source>日期:</source>
        <translation>Date:</translation>
    </message>
    <message>
        <source>(格式为yyyy-MM-dd,为空时取计算机日期)</source>
        <translation>(yyyy-MM-dd; empty for today&apos;s date)</translation>
    </message>
    <message>
        <source>连接数据库</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>断开连接</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>清除LOG记录</source>
        <translation>Clear Audit Log</translation>
    </message>
    <message>
        <source>导入数据表</source>
        <translation>Install Tables</translation>
    </message>
    <message>
        <source>数据库是版本 %1, 本程序的版本是 %2. 现在升级数据库吗?</source>
        <translation>The database is at version %1; this program&apos;s version is %2. Upgrade the database now?</translation>
    </message>
    <message>
        <source>升级数据库</source>
        <translation>Upgrade Database</translation>
    </message>
    <message>
        <source>数据库已升级到版本 %1.</source>
        <translation>The database was upgraded to version %1.</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>设置无法保存到 %1</source>
        <translation>The settings could not be saved to %1</translation>
    </message>
    <message>
        <source>请先取得数据库连接参数!</source>
        <translation>Please set up the connection settings first.</translation>
    </message>
    <message>
        <source>对象打开时,不允许操作.</source>
        <translation>Not allowed while the connection is open.</translation>
    </message>
    <message>
        <source>尚未连接数据库,请先连接数据库.</source>
        <translation>Not connected to a database. Please connect first.</translation>
    </message>
    <message>
        <source>用户ID不能为空!请重新输入.</source>
        <translation>The user ID must not be empty. Please enter it again.</translation>
    </message>
    <message>
        <source>返回值:</source>
        <translation>Result:</translation>
    </message>
    <message>
        <source>权限管理维护和测试</source>
        <translation>Maintenance and Tests</translation>
    </message>
    <message>
        <source>权限项目维护</source>
        <translation>Item List</translation>
    </message>
    <message>
        <source>权限管理</source>
        <translation>Manager</translation>
    </message>
    <message>
        <source>使用ADO事务</source>
        <translation>Transaction</translation>
    </message>
    <message>
        <source>窗口</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>更改用户密码</source>
        <translation>New Password</translation>
    </message>
    <message>
        <source>请在出错信息框中输入新密码</source>
        <translation>Type the new password in the &quot;Message&quot; box</translation>
    </message>
    <message>
        <source>用户登录测试</source>
        <translation>Login test</translation>
    </message>
    <message>
        <source>出错信息:</source>
        <translation>Message:</translation>
    </message>
    <message>
        <source>用户登录不成功!</source>
        <translation>Login failed!</translation>
    </message>
    <message>
        <source>出错处理:</source>
        <translation>On error:</translation>
    </message>
    <message>
        <source>(0,自己处理,1,提供文本,3,程序处理)</source>
        <translation>(0 caller, 1 given text, 2 built-in)</translation>
    </message>
    <message>
        <source>测试次数或秒数:</source>
        <translation>Tries or seconds:</translation>
    </message>
    <message>
        <source>登录测试</source>
        <translation>Test Login</translation>
    </message>
    <message>
        <source>权限检测测试</source>
        <translation>Permission check test</translation>
    </message>
    <message>
        <source>权限ID:</source>
        <translation>Item ID:</translation>
    </message>
    <message>
        <source>您没有使用此功能的权限!</source>
        <translation>Permission denied!</translation>
    </message>
    <message>
        <source>权限测试</source>
        <translation>Test Right</translation>
    </message>
    <message>
        <source>权限ID不能为空!请重新输入.</source>
        <translation>The item ID must not be empty. Please enter it again.</translation>
    </message>
    <message>
        <source>权限ID必须为整数型值!请重新输入.</source>
        <translation>The item ID must be a whole number. Please enter it again.</translation>
    </message>
    <message>
        <source>用户ID必须输入!</source>
        <translation>A user ID must be entered.</translation>
    </message>
    <message>
        <source>用户ID必须输入! 新密码可输在出错信息框中.</source>
        <translation>A user ID must be entered. The new password goes in the &quot;Message&quot; box.</translation>
    </message>
    <message>
        <source>密码修改成功!</source>
        <translation>The password has been changed.</translation>
    </message>
    <message>
        <source>密码修改没有成功!</source>
        <translation>The password was not changed.</translation>
    </message>
    <message>
        <source>该用户被禁止使用, 登录不成功, 请与系统管理员联系.</source>
        <translation>This user is disabled. Login failed. Please contact your system administrator.</translation>
    </message>
    <message>
        <source>该用户使用期限已过, 登录不成功, 请与系统管理员联系.</source>
        <translation>This user account has expired. Login failed. Please contact your system administrator.</translation>
    </message>
    <message>
        <source>密码不正确, 登录不成功, 请重试.</source>
        <translation>The password is incorrect. Login failed. Please try again.</translation>
    </message>
    <message>
        <source>无此用户! 登录不成功, 请与系统管理员联系.</source>
        <translation>No such user. Login failed. Please contact your system administrator.</translation>
    </message>
    <message>
        <source>您没有使用这个功能的权限, 要想使用, 请与系统管理员联系.</source>
        <translation>You do not have permission to use this function. To use it, please contact your system administrator.</translation>
    </message>
    <message>
        <source>权限没有定义(</source>
        <translation>Permission item not defined (</translation>
    </message>
    <message>
        <source>用户权限</source>
        <translation>User Permission</translation>
    </message>
    <message>
        <source>事务回滚失败, 数据库连接已关闭, 未提交的更改已放弃: </source>
        <translation>The transaction could not be rolled back; the database connection was closed and the uncommitted changes were discarded: </translation>
    </message>
    <message>
        <source>审计日志写入失败, 这次权限使用没有记录: </source>
        <translation>The audit log could not be written; this use of a permission was not recorded: </translation>
    </message>
    <message>
        <source>审计日志写入失败, 窗口事务期间的一条记录没有写入: </source>
        <translation>The audit log could not be written; a row from while a window's transaction was open was not recorded: </translation>
    </message>
    <message>
        <source>关于权限管理应用工具</source>
        <translation>About the Permission Management Tool</translation>
    </message>
    <message>
        <source>权限管理应用工具 (Vardex)<byte value="xd"/>
<byte value="xd"/>
为桌面数据库应用程序管理用户、用户组、权限组和权限项,<byte value="xd"/>
并提供登录验证、权限检查、密码修改和审计日志.<byte value="xd"/>
<byte value="xd"/>
权限库可以是 SQLite 文件、PostgreSQL 服务器或 SQL Server.</source>
        <translation>Permission Management Tool (Vardex)<byte value="xd"/>
<byte value="xd"/>
Manages users, user groups, permission groups and items<byte value="xd"/>
for desktop database applications, with login checks,<byte value="xd"/>
permission checks, password changes and an audit log.<byte value="xd"/>
<byte value="xd"/>
The store can be an SQLite file, a PostgreSQL server<byte value="xd"/>
or SQL Server.</translation>
    </message>
    <message>
        <source>成功导入数据表! 您现在可以使用它的功能了.</source>
        <translation>The tables have been installed. You can now use all functions.</translation>
    </message>
    <message>
        <source>可能与数据库已有的表名称冲突,导入已终止,请先检查原因再导入.</source>
        <translation>The installation was stopped, possibly because a table of that name already exists in the database. Please check the cause before installing again.</translation>
    </message>
    <message>
        <source>是(&amp;Y)</source>
        <translation>&amp;Yes</translation>
    </message>
    <message>
        <source>否(&amp;N)</source>
        <translation>&amp;No</translation>
    </message>
    <message>
        <source>添加用户组</source>
        <comment>short button text</comment>
        <translation>User Group</translation>
    </message>
    <message>
        <source>权限ID</source>
        <translation>Item ID</translation>
    </message>
    <message>
        <source>所选语言立即生效.</source>
        <translation>The chosen language takes effect at once.</translation>
    </message>
    <message>
        <source>几个服务器用逗号分开: pg1,pg2 或 pg1:5432,pg2:5433</source>
        <translation>Several servers separated by commas: pg1,pg2 or pg1:5432,pg2:5433</translation>
    </message>
    <message>
        <source>几个服务器时: 每个服务器一个端口 (5432,5433), 或一个端口给所有服务器</source>
        <translation>With several servers: one port for each (5432,5433), or one port for all</translation>
    </message>
    <message>
        <source>SSL 模式:</source>
        <translation>SSL mode:</translation>
    </message>
    <message>
        <source>目标会话:</source>
        <translation>Target session:</translation>
    </message>
    <message>
        <source>服务器已带端口 (服务器:端口) 时, 端口框应为空.</source>
        <translation>The servers carry their ports (server:port): leave the port box empty.</translation>
    </message>
    <message>
        <source>端口的个数 (%1) 与服务器的个数 (%2) 不一致.</source>
        <translation>The number of ports (%1) does not match the number of servers (%2).</translation>
    </message>
    <message>
        <source>版本 %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>用户</source>
        <translation>User</translation>
    </message>
    <message>
        <source>计算机</source>
        <translation>Computer</translation>
    </message>
    <message>
        <source>事件</source>
        <translation>Event</translation>
    </message>
    <message>
        <source>审计日志</source>
        <translation>Audit Log</translation>
    </message>
    <message>
        <source>用户(&amp;U):</source>
        <translation>&amp;User:</translation>
    </message>
    <message>
        <source>计算机(&amp;M):</source>
        <translation>Co&amp;mputer:</translation>
    </message>
    <message>
        <source>内容(&amp;T):</source>
        <translation>&amp;Text:</translation>
    </message>
    <message>
        <source>日期从(&amp;D):</source>
        <translation>&amp;Dates from:</translation>
    </message>
    <message>
        <source>到:</source>
        <translation>to:</translation>
    </message>
    <message>
        <source>导出CSV(&amp;E)...</source>
        <translation>&amp;Export CSV...</translation>
    </message>
    <message>
        <source>1 条记录</source>
        <translation>1 row</translation>
    </message>
    <message>
        <source>%1 条记录</source>
        <translation>%1 rows</translation>
    </message>
    <message>
        <source>登录</source>
        <translation>Logins</translation>
    </message>
    <message>
        <source>登录失败</source>
        <translation>Failed logins</translation>
    </message>
    <message>
        <source>使用权限</source>
        <translation>Rights used</translation>
    </message>
    <message>
        <source>导出LOG记录</source>
        <translation>Export Log Rows</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>无法写入文件 %1: %2</source>
        <translation>Cannot write the file %1: %2</translation>
    </message>
    <message>
        <source>已导出 %1 条记录到 %2.</source>
        <translation>%1 rows exported to %2.</translation>
    </message>
    <message>
        <source>LOG记录(&amp;L)</source>
        <translation>&amp;Log...</translation>
    </message>
    <message>
        <source>查看LOG记录</source>
        <translation>View Log</translation>
    </message>
    <message>
        <source>LOG记录是空的, 没有可清除的记录.</source>
        <translation>The log is empty; there is nothing to clear.</translation>
    </message>
    <message>
        <source>将清除全部 %1 条LOG记录, 清除后不能恢复. 确定要清除吗?</source>
        <translation>All %1 log rows will be cleared, and they cannot be brought back. Clear them?</translation>
    </message>
    <message>
        <source>已清除 %1 条LOG记录.</source>
        <translation>%1 log rows cleared.</translation>
    </message>
    <message>
        <source>正在统计...</source>
        <translation>Counting...</translation>
    </message>
    <message>
        <source>正在统计... %1 条记录</source>
        <translation>Counting... %1 rows</translation>
    </message>
</context>
</TS>
