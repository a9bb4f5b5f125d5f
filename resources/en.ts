<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Tallowbrook</name>
    <!-- contact field labels and summary lines -->
    <message>
        <source>Other</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>Home</source>
        <translation>Home</translation>
    </message>
    <message>
        <source>Mobile</source>
        <translation>Mobile</translation>
    </message>
    <message>
        <source>Work</source>
        <translation>Work</translation>
    </message>
    <message>
        <source>Work Fax</source>
        <translation>Work Fax</translation>
    </message>
    <message>
        <source>Home Fax</source>
        <translation>Home Fax</translation>
    </message>
    <message>
        <source>Pager</source>
        <translation>Pager</translation>
    </message>
    <message>
        <source>Callback</source>
        <translation>Callback</translation>
    </message>
    <message>
        <source>Car</source>
        <translation>Car</translation>
    </message>
    <message>
        <source>Company Main</source>
        <translation>Company Main</translation>
    </message>
    <message>
        <source>ISDN</source>
        <translation>ISDN</translation>
    </message>
    <message>
        <source>Main</source>
        <translation>Main</translation>
    </message>
    <message>
        <source>Other Fax</source>
        <translation>Other Fax</translation>
    </message>
    <message>
        <source>Radio</source>
        <translation>Radio</translation>
    </message>
    <message>
        <source>Telex</source>
        <translation>Telex</translation>
    </message>
    <message>
        <source>TTY TDD</source>
        <translation>TTY TDD</translation>
    </message>
    <message>
        <source>Work Mobile</source>
        <translation>Work Mobile</translation>
    </message>
    <message>
        <source>Work Pager</source>
        <translation>Work Pager</translation>
    </message>
    <message>
        <source>Assistant</source>
        <translation>Assistant</translation>
    </message>
    <message>
        <source>MMS</source>
        <translation>MMS</translation>
    </message>
    <message>
        <source>Anniversary</source>
        <translation>Anniversary</translation>
    </message>
    <message>
        <source>Birthday</source>
        <translation>Birthday</translation>
    </message>
    <message>
        <source>AIM</source>
        <translation>AIM</translation>
    </message>
    <message>
        <source>MSN</source>
        <translation>MSN</translation>
    </message>
    <message>
        <source>Yahoo</source>
        <translation>Yahoo</translation>
    </message>
    <message>
        <source>Skype</source>
        <translation>Skype</translation>
    </message>
    <message>
        <source>QQ</source>
        <translation>QQ</translation>
    </message>
    <message>
        <source>Google Talk</source>
        <translation>Google Talk</translation>
    </message>
    <message>
        <source>ICQ</source>
        <translation>ICQ</translation>
    </message>
    <message>
        <source>Jabber</source>
        <translation>Jabber</translation>
    </message>
    <message>
        <source>Net Meeting</source>
        <translation>Net Meeting</translation>
    </message>
    <message>
        <source>Gadu Gadu</source>
        <translation>Gadu Gadu</translation>
    </message>
    <message>
        <source>Facebook</source>
        <translation>Facebook</translation>
    </message>
    <message>
        <source>Brother</source>
        <translation>Brother</translation>
    </message>
    <message>
        <source>Child</source>
        <translation>Child</translation>
    </message>
    <message>
        <source>Domestic Partner</source>
        <translation>Domestic Partner</translation>
    </message>
    <message>
        <source>Father</source>
        <translation>Father</translation>
    </message>
    <message>
        <source>Friend</source>
        <translation>Friend</translation>
    </message>
    <message>
        <source>Manager</source>
        <translation>Manager</translation>
    </message>
    <message>
        <source>Mother</source>
        <translation>Mother</translation>
    </message>
    <message>
        <source>Parent</source>
        <translation>Parent</translation>
    </message>
    <message>
        <source>Partner</source>
        <translation>Partner</translation>
    </message>
    <message>
        <source>Referred by</source>
        <translation>Referred by</translation>
    </message>
    <message>
        <source>Relative</source>
        <translation>Relative</translation>
    </message>
    <message>
        <source>Sister</source>
        <translation>Sister</translation>
    </message>
    <message>
        <source>Spouse</source>
        <translation>Spouse</translation>
    </message>
    <message>
        <source>Home page</source>
        <translation>Home page</translation>
    </message>
    <message>
        <source>Blog</source>
        <translation>Blog</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>Profile</translation>
    </message>
    <message>
        <source>FTP</source>
        <translation>FTP</translation>
    </message>
    <message>
        <source>%1:%2</source>
        <translation>%1:%2</translation>
    </message>
    <message>
        <source>%1:%2(%3)</source>
        <translation>%1:%2(%3)</translation>
    </message>
    <message>
        <source>&lt;b&gt;%1&lt;/b&gt;&lt;br/&gt;%2</source>
        <translation>&lt;b&gt;%1&lt;/b&gt;&lt;br/&gt;%2</translation>
    </message>
    <!-- local database messages -->
    <message>
        <source>IDS_CREATE_DB_FAIL_%1</source>
        <translation>Failed to create Local Database. Error:%1</translation>
    </message>
    <message>
        <source>An Error Occurred during deleting Local Database. Please try again.</source>
        <translation>An Error Occurred during deleting Local Database. Please try again.</translation>
    </message>
    <!-- product name, message boxes and start-up notices -->
    <message>
        <source>Tallowbrook Contact Mover</source>
        <translation>Tallowbrook Contact Mover</translation>
    </message>
    <message>
        <source> v%1</source>
        <translation> v%1</translation>
    </message>
    <message>
        <source>An Error Occurred. &lt;br/&gt;&lt;br/&gt;%1&lt;br/&gt;&lt;br/&gt;</source>
        <translation>An Error Occurred. &lt;br/&gt;&lt;br/&gt;%1&lt;br/&gt;&lt;br/&gt;</translation>
    </message>
    <message>
        <source>If this keeps happening, please write to us at %1.</source>
        <translation>If this keeps happening, please write to us at %1.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>No</source>
        <translation>No</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>Abort</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Retry</translation>
    </message>
    <message>
        <source>iTunes can't be started when running Tallowbrook. Please close iTunes.</source>
        <translation>iTunes can't be started when running Tallowbrook. Please close iTunes.</translation>
    </message>
    <!-- main window: menus, commands, device arrival and confirmations -->
    <message>
        <source>Total:0</source>
        <translation>Total:0</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Backup Contacts</source>
        <translation>Backup Contacts</translation>
    </message>
    <message>
        <source>IDS_MI_PHONE_TO_PHONE</source>
        <translation>Phone to Phone Transfer</translation>
    </message>
    <message>
        <source>iPhone to Android</source>
        <translation>iPhone to Android</translation>
    </message>
    <message>
        <source>Android to iPhone</source>
        <translation>Android to iPhone</translation>
    </message>
    <message>
        <source>iPhone to iPhone</source>
        <translation>iPhone to iPhone</translation>
    </message>
    <message>
        <source>Android to Android</source>
        <translation>Android to Android</translation>
    </message>
    <message>
        <source>Restore Contacts to iPhone</source>
        <translation>Restore Contacts to iPhone</translation>
    </message>
    <message>
        <source>Restore Contacts to Android</source>
        <translation>Restore Contacts to Android</translation>
    </message>
    <message>
        <source>Export Contacts to File</source>
        <translation>Export Contacts to File</translation>
    </message>
    <message>
        <source>Print Contacts</source>
        <translation>Print Contacts</translation>
    </message>
    <message>
        <source>Add Contact</source>
        <translation>Add Contact</translation>
    </message>
    <message>
        <source>Ctrl+N</source>
        <translation>Ctrl+N</translation>
    </message>
    <message>
        <source>IDS_MI_IMPORT</source>
        <translation>Import</translation>
    </message>
    <message>
        <source>Import from File</source>
        <translation>Import from File</translation>
    </message>
    <message>
        <source>IDS_MI_FROM_ITUNES</source>
        <translation>Import from iTunes</translation>
    </message>
    <message>
        <source>Delete Contact</source>
        <translation>Delete Contact</translation>
    </message>
    <message>
        <source>Open Database Folder</source>
        <translation>Open Database Folder</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Tools</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>Check update</source>
        <translation>Check update</translation>
    </message>
    <message>
        <source>IDS_MI_CONNECT_ANDROID_VIA_WIFI</source>
        <translation>Connect Android Phone via WiFi</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Feedback and support</source>
        <translation>Feedback and support</translation>
    </message>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Failed to detect iPhone. Please launch iTunes (Finder if MacOS 10.15 or above) first and then re-connect your iPhone. Once your iPhone is visible in iTunes (Finder if MacOS 10.15 or above), please restart Tallowbrook software.</source>
        <translation>Failed to detect iPhone. Please launch iTunes (Finder if MacOS 10.15 or above) first and then re-connect your iPhone. Once your iPhone is visible in iTunes (Finder if MacOS 10.15 or above), please restart Tallowbrook software.</translation>
    </message>
    <message>
        <source>IDS_ROOT_LOCALDB</source>
        <translation>Local Databases</translation>
    </message>
    <message>
        <source>IDS_ROOT_DEVICE</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS</source>
        <translatorcomment>text not given</translatorcomment>
        <translation>Please unlock your iPhone. If it asks whether to trust this computer, tap &quot;Trust&quot; and enter your passcode on the iPhone.&lt;br/&gt;&lt;br/&gt;Please also turn off contacts sync (iCloud Contacts) in the Settings of your iPhone before transferring contacts.&lt;br/&gt;&lt;br/&gt;&lt;img src=&quot;:res/iphone_setting1.jpg&quot;/&gt;</translation>
    </message>
    <message>
        <source>Can't connect to your Android Phone: %1.&lt;br/&gt;&lt;br/&gt;If you are presented with the pop up to allow debugging with the computer on your Android device screen. Please simply check &quot;Always allow from this computer&quot; and then click &quot;OK&quot; to finish.&lt;br/&gt;&lt;br/&gt;&lt;img src=&quot;:res/trust-android.png&quot;/&gt;</source>
        <translation>Can't connect to your Android Phone: %1.&lt;br/&gt;&lt;br/&gt;If you are presented with the pop up to allow debugging with the computer on your Android device screen. Please simply check &quot;Always allow from this computer&quot; and then click &quot;OK&quot; to finish.&lt;br/&gt;&lt;br/&gt;&lt;img src=&quot;:res/trust-android.png&quot;/&gt;</translation>
    </message>
    <message>
        <source>Failed to connect your Android Phone.&lt;br/&gt;usb: %1&lt;br/&gt;&lt;br/&gt;Please exit any other Android Manager program on your computer first and then reconnect your phone to try again.</source>
        <translation>Failed to connect your Android Phone.&lt;br/&gt;usb: %1&lt;br/&gt;&lt;br/&gt;Please exit any other Android Manager program on your computer first and then reconnect your phone to try again.</translation>
    </message>
    <message>
        <source>Disconnect Device</source>
        <translation>Disconnect Device</translation>
    </message>
    <message>
        <source>IDS_SEARCH_KEYWORKD_%1</source>
        <translation>Keyword:%1</translation>
    </message>
    <message>
        <source>IDS_SELECT_IOS_TO_TRANSFER</source>
        <translation>Select an iPhone device to continue.</translation>
    </message>
    <message>
        <source>IDS_SELECT_ANDROID_TO_TRANSFER</source>
        <translation>Select an Android device to continue.</translation>
    </message>
    <message>
        <source>IDS_SUC_DEL_CONTACTS</source>
        <translation>Successfully deleted contact.</translation>
    </message>
    <message>
        <source>Backup selected contacts</source>
        <translation>Backup selected contacts</translation>
    </message>
    <message>
        <source>IDS_STARTING_IMPORT_CONTACTS_FROM_DEVICE</source>
        <translation>Loading Contacts from Device</translation>
    </message>
    <message>
        <source>Unknown Device</source>
        <translation>Unknown Device</translation>
    </message>
    <message>
        <source>VCard Files(*.vcf)</source>
        <translation>VCard Files(*.vcf)</translation>
    </message>
    <message>
        <source>CSV Files(*.csv)</source>
        <translation>CSV Files(*.csv)</translation>
    </message>
    <message>
        <source>Text Files(*.txt)</source>
        <translation>Text Files(*.txt)</translation>
    </message>
    <message>
        <source>HTML files(*.html)</source>
        <translation>HTML files(*.html)</translation>
    </message>
    <message>
        <source>Word files(*.doc)</source>
        <translation>Word files(*.doc)</translation>
    </message>
    <message>
        <source>PDF files(*.pdf)</source>
        <translation>PDF files(*.pdf)</translation>
    </message>
    <message>
        <source>IDS_STARTING_IMPORT_CONTACTS_FROM_FILE</source>
        <translation>Importing contacts now...</translation>
    </message>
    <message>
        <source>Export selected contacts</source>
        <translation>Export selected contacts</translation>
    </message>
    <message>
        <source>IDS_STARTING_EXPORT_CONTACTS_TO_FILE</source>
        <translation>Exporting contacts to File now...</translation>
    </message>
    <message>
        <source>IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE</source>
        <translation>Successfully exported %1 contacts to File.</translation>
    </message>
    <message>
        <source>Print selected contacts</source>
        <translation>Print selected contacts</translation>
    </message>
    <message>
        <source>Transfer selected contacts from iPhone to iPhone</source>
        <translation>Transfer selected contacts from iPhone to iPhone</translation>
    </message>
    <message>
        <source>Transfer selected contacts from iPhone to Android</source>
        <translatorcomment>text not given</translatorcomment>
        <translation>Transfer selected contacts from iPhone to Android</translation>
    </message>
    <message>
        <source>Transfer selected contacts from Android to iPhone</source>
        <translatorcomment>text not given</translatorcomment>
        <translation>Transfer selected contacts from Android to iPhone</translation>
    </message>
    <message>
        <source>Transfer selected contacts from Android to Android</source>
        <translation>Transfer selected contacts from Android to Android</translation>
    </message>
    <message>
        <source>Edit Contact</source>
        <translation>Edit Contact</translation>
    </message>
    <message>
        <source>Set Contact Group</source>
        <translation>Set Contact Group</translation>
    </message>
    <message>
        <source>IDS_UPDATE_GROUP_SUC</source>
        <translation>Successfully set the contact group.</translation>
    </message>
    <message>
        <source>Delete selected contacts</source>
        <translation>Delete selected contacts</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_SELECTIONS</source>
        <translation>Confirm to delete selected contacts?</translation>
    </message>
    <message>
        <source>IDS_MI_REMOVE_LOCAL_DB</source>
        <translation>Delete Local Database</translation>
    </message>
    <message>
        <source>Confirm to delete the Group?</source>
        <translation>Confirm to delete the Group?</translation>
    </message>
    <message>
        <source>Confirm to delete this Local Database?</source>
        <translation>Confirm to delete this Local Database?</translation>
    </message>
    <message>
        <source>Successfully deleted Local Database.</source>
        <translation>Successfully deleted Local Database.</translation>
    </message>
    <message>
        <source>Confrim to clear all iPhone contacts?</source>
        <translation>Confirm to clear all iPhone contacts?</translation>
    </message>
    <message>
        <source>Confirm to clear all Android Contacts?</source>
        <translation>Confirm to clear all Android Contacts?</translation>
    </message>
    <message>
        <source>Restore selected contacts to iPhone</source>
        <translation>Restore selected contacts to iPhone</translation>
    </message>
    <message>
        <source>Restore selected contacts to Android</source>
        <translation>Restore selected contacts to Android</translation>
    </message>
    <!-- contact list -->
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Phone</source>
        <translation>Phone</translation>
    </message>
    <message>
        <source>E-Mail</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Address</translation>
    </message>
    <!-- what a transfer or import will change, shown before it runs -->
    <message>
        <source>IDS_PREVIEW_%1_ADDED_%2_MERGED_%3_UNCHANGED</source>
        <translation>%1 contacts will be added, %2 merged into contacts already there and %3 left unchanged.</translation>
    </message>
    <message>
        <source>IDS_PREVIEW_NOTHING_WRITTEN</source>
        <translation>Dry run, nothing was written.</translation>
    </message>
    <message>
        <source>IDS_PREVIEWING_CONTACTS</source>
        <translation>Working out what will change...</translation>
    </message>
    <message>
        <source>IDS_PREVIEW_CONFIRM_TRANSFER_%1_TO_%2</source>
        <translation>Send %1 to %2?</translation>
    </message>
    <message>
        <source>IDS_PREVIEW_CONFIRM_IMPORT_TO_%1</source>
        <translation>Import into %1?</translation>
    </message>
    <message>
        <source>IDS_PREVIEW_SHOW_LIST</source>
        <translation>Show Details... lists every contact and the fields that change.</translation>
    </message>
    <message>
        <source>Add: %1</source>
        <translation>Add: %1</translation>
    </message>
    <message>
        <source>Merge into: %1</source>
        <translation>Merge into: %1</translation>
    </message>
    <message>
        <source>Unchanged, already there: %1</source>
        <translation>Unchanged, already there: %1</translation>
    </message>
    <message>
        <source>“%1” to “%2”</source>
        <translation>“%1” to “%2”</translation>
    </message>
    <message>
        <source>%1 “%2” to “%3”</source>
        <translation>%1 “%2” to “%3”</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 bytes</translation>
    </message>
    <message>
        <source>Photo</source>
        <translation>Photo</translation>
    </message>
    <message>
        <source>E-mail</source>
        <translation>E-mail</translation>
    </message>
    <message>
        <source>Event</source>
        <translation>Event</translation>
    </message>
    <message>
        <source>Group</source>
        <translation>Group</translation>
    </message>
    <message>
        <source>IM</source>
        <translation>IM</translation>
    </message>
    <message>
        <source>Note</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>Organization</source>
        <translation>Organization</translation>
    </message>
    <message>
        <source>Relation</source>
        <translation>Relation</translation>
    </message>
    <message>
        <source>Website</source>
        <translation>Website</translation>
    </message>
    <message>
        <source>Total:%1</source>
        <translation>Total:%1</translation>
    </message>
    <message>
        <source>To begin, connect a phone, or import a contact file or an iPhone backup.</source>
        <translation>To begin, connect a phone, or import a contact file or an iPhone backup.</translation>
    </message>
    <!-- progress dialog and backup into a local database -->
    <message>
        <source>Progress:%1%</source>
        <translation>Progress:%1%</translation>
    </message>
    <message>
        <source>Are You Sure You Want To Cancel?</source>
        <translation>Are You Sure You Want To Cancel?</translation>
    </message>
    <message>
        <source>Contacts:%1/%2</source>
        <translation>Contacts:%1/%2</translation>
    </message>
    <message>
        <source>IDS_IMPORTING_CONTACTS_TO_LOCALDB</source>
        <translation>Backing up contacts to Local Database</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED</source>
        <translation>Successfully backed up %1 contacts to the local database; %2 repeated contacts merged.</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_TO_LOCALDB</source>
        <translation>Successfully backed up %1 contacts to the local database.</translation>
    </message>
    <!-- database and device choice dialogs -->
    <message>
        <source>Select one Database for backup</source>
        <translation>Choose a Database for the Backup</translation>
    </message>
    <message>
        <source>Select current database to merge or enter a new database name:</source>
        <translation>Select current database to merge or enter a new database name:</translation>
    </message>
    <message>
        <source>Selecting current Database will merge contacts;entering new DB name will create a new Database.</source>
        <translation>Selecting current Database will merge contacts;entering new DB name will create a new Database.</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME</source>
        <translation>Select one Database or enter a new Database name</translation>
    </message>
    <message>
        <source>IDS_INVALID_LOCALDB_NAME</source>
        <translation>Invalid Local Database name(can't contain \ / : * ? &quot; &lt; &gt; |).</translation>
    </message>
    <message>
        <source>IDS_EXPORT_TARGET_IS_DATABASE_%1</source>
        <translation>Cannot export to %1: it is a database of this program (or lies in its data folder), and the export would destroy it. Choose another file.</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_IN_USE_%1</source>
        <translation>The local database %1 is in use by another running program (an import or a transfer into it may be running). It was not deleted.</translation>
    </message>
    <message>
        <source>IDS_CSV_QUOTE_NEVER_CLOSES_LINE_%1</source>
        <translation>Line %1 of the CSV file opens a quoted field that never closes; that line and the rest of the file were not imported.</translation>
    </message>
    <message>
        <source>IDS_EXPORT_WRITE_FAILED_%1_%2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_NAME_STARTS_WITH_DOT</source>
        <translation>Invalid Local Database name: a name starting with &quot;.&quot; would make a hidden file.</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_NAME_INVISIBLE_CHARACTER_%1</source>
        <translation>Invalid Local Database name: it contains the invisible or direction-changing character U+%1.</translation>
    </message>
    <message>
        <source>(To manually select iTunes Backup, click &lt;a href=&quot;#&quot;&gt;HERE&lt;/a&gt;.)</source>
        <translation>(To manually select iTunes Backup, click &lt;a href=&quot;#&quot;&gt;HERE&lt;/a&gt;.)</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_ONE_DATASOURCE</source>
        <translation>Please select one datasource.</translation>
    </message>
    <!-- Android connection and Wi-Fi dialog -->
    <message>
        <source>Can not install com.tallowbrook.contactssync. %1</source>
        <translation>Can not install com.tallowbrook.contactssync. %1</translation>
    </message>
    <message>
        <source>The phone did not list its apps: %1</source>
        <translation>The phone did not list its apps: %1</translation>
    </message>
    <message>
        <source>The app on the phone is signed with another key. Uninstall it on the phone, then try again. %1</source>
        <translation>The app on the phone is signed with another key. Uninstall it on the phone, then try again. %1</translation>
    </message>
    <message>
        <source>Connect Android via WiFi</source>
        <translation>Connect Android via WiFi</translation>
    </message>
    <message>
        <source>Run Tallowbrook Contacts Sync on Android phone and click Connection button to get the Wifi connection info. Now input the info to the following Text Box. </source>
        <translation>Run Tallowbrook Contacts Sync on Android phone and click Connection button to get the Wifi connection info. Now input the info to the following Text Box. </translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>If you haven't installed Tallowbrook Contacts Sync on Android phone, please go to the Market (Google Play) on your Android to search Tallowbrook Contacts Sync to download and install.</source>
        <translation>If you haven't installed Tallowbrook Contacts Sync on Android phone, please go to the Market (Google Play) on your Android to search Tallowbrook Contacts Sync to download and install.</translation>
    </message>
    <message>
        <source>IDS_WIFI_SOCK_WRONG_FOR_EXAMPLE</source>
        <translation>Input Error. Please input the correct WiFi connection info.</translation>
    </message>
    <message>
        <source>IDS_ANDROID_ALLOW_USB_DEBUGGING</source>
        <translation>%1: Allow USB debugging on the phone (unlock it and tap &quot;Allow&quot;); waiting up to %2 seconds.</translation>
    </message>
    <message>
        <source>IDS_ANDROID_PHONE_NOT_ALLOWED</source>
        <translation>%1: USB debugging was not allowed on the phone; it is left out.</translation>
    </message>
    <message>
        <source>IDS_ANDROID_PHONE_UNUSABLE</source>
        <translation>%1: the phone can not be used: %2</translation>
    </message>
    <message>
        <source>IDS_WIFI_CONNECTOR_CONNECT_TIMEOUT</source>
        <translation>The phone did not answer in time. Please check that Tallowbrook Contacts Sync is installed and running on the phone, that the address is the one the app shows, and that the phone is on the same network as this computer.</translation>
    </message>
    <!-- Android sync session -->
    <message>
        <source>IDS_ANDROID_CONNECT_FAIL%0:%1</source>
        <translation>Failed to Connect to %0:%1.</translation>
    </message>
    <message>
        <source>IDS_DAEMON_APK_OLDER_THAN_%1</source>
        <translation>This is not the latest version of Tallowbrook Contacts Sync on Android. %1 needed. Please update it from Google Play.</translation>
    </message>
    <message>
        <source>Null command.</source>
        <translation>Null command.</translation>
    </message>
    <message>
        <source>receive $batch: command error, invalid command:%1</source>
        <translation>receive $batch: command error, invalid command:%1</translation>
    </message>
    <!-- reading contacts from Android -->
    <message>
        <source>IDS_SYNC_CHECK_APK</source>
        <translation>Checking and installing Tallowbrook Contacts Sync now...</translation>
    </message>
    <message>
        <source>IDS_SYNC_START_SERVICE</source>
        <translation>Starting Sync Service now...</translation>
    </message>
    <message>
        <source>IDS_SYNC_BACKING</source>
        <translation>Backing up Contacts now...</translation>
    </message>
    <message>
        <source>Invalid:%1</source>
        <translation>Invalid:%1</translation>
    </message>
    <message>
        <source>IDS_RECEIVING_CONTACTS_FROM_ANDROID</source>
        <translation>Loading contacts from Android now...</translation>
    </message>
    <message>
        <source>Contacts: %1/%2</source>
        <translation>Contacts: %1/%2</translation>
    </message>
    <!-- writing contacts to Android -->
    <message>
        <source>IDS_MERGING_CONTACTS</source>
        <translation>Merging contacts now...</translation>
    </message>
    <message>
        <source>IDS_SEND_CHANGES_TO_ANDROID</source>
        <translation>Updating Android device now...</translation>
    </message>
    <message>
        <source>IDS_SUC_TRANSFER_%1_CONTACTS_TO_ANDROID</source>
        <translation>Successfully transferred %1 contacts to Android.</translation>
    </message>
    <message>
        <source>IDS_SUC_TRANSFER_%1_CONTACTS_TO_ANDROID_%2_MERGED</source>
        <translation>Successfully transferred %1 contacts to Android, with %2 repeated contacts merged.</translation>
    </message>
    <message>
        <source>IDS_SENGING_CHANGES_TO_DEVICE</source>
        <translation>Updating device contacts now...</translation>
    </message>
    <!-- iOS mobilesync session errors -->
    <message>
        <source>mobiledevice_sync_start_throw: open device failed. return %1.</source>
        <translation>mobiledevice_sync_start_throw: open device failed. return %1.</translation>
    </message>
    <message>
        <source>mobiledevice_sync_start_throw: start service failed. return %1.</source>
        <translation>mobiledevice_sync_start_throw: start service failed. return %1.</translation>
    </message>
    <message>
        <source>mobiledevice_sync_start_throw: start failed. return %1. %2</source>
        <translation>mobiledevice_sync_start_throw: start failed. return %1. %2</translation>
    </message>
    <message>
        <source>mobilesync_get_all_records_from_device failed. return %1.</source>
        <translation>mobilesync_get_all_records_from_device failed. return %1.</translation>
    </message>
    <message>
        <source>mobilesync_receive_changes failed. return %1.</source>
        <translation>mobilesync_receive_changes failed. return %1.</translation>
    </message>
    <message>
        <source>mobilesync_acknowledge_changes_from_device failed. return %1.</source>
        <translation>mobilesync_acknowledge_changes_from_device failed. return %1.</translation>
    </message>
    <message>
        <source>mobilesync_ready_to_send_changes_from_computer failed. return %1.</source>
        <translation>mobilesync_ready_to_send_changes_from_computer failed. return %1.</translation>
    </message>
    <message>
        <source>mobilesync_send_changes failed. return %1.</source>
        <translation>mobilesync_send_changes failed. return %1.</translation>
    </message>
    <message>
        <source>mobilesync_remap_identifiers failed. return %1.</source>
        <translation>mobilesync_remap_identifiers failed. return %1.</translation>
    </message>
    <message>
        <source>mobilesync_finish failed. return %1.</source>
        <translation>mobilesync_finish failed. return %1.</translation>
    </message>
    <!-- iOS transfers -->
    <message>
        <source>IDS_IOS_TRUST_PENDING</source>
        <translation>The iPhone does not trust this computer yet. Unlock the iPhone and tap Trust.</translation>
    </message>
    <message>
        <source>IDS_IOS_TRUST_LOCKED</source>
        <translation>The iPhone is locked with its passcode. Unlock the iPhone, then tap Trust when it asks.</translation>
    </message>
    <message>
        <source>IDS_IOS_TRUST_DENIED</source>
        <translation>The iPhone was told not to trust this computer. Unplug it, plug it in again, unlock it and tap Trust.</translation>
    </message>
    <message>
        <source>IDS_IOS_TRUST_FORGOTTEN</source>
        <translation>The iPhone no longer trusts this computer (its trust settings were reset). Unplug it, plug it in again, unlock it and tap Trust.</translation>
    </message>
    <message>
        <source>IDS_IOS_NOT_OPENED</source>
        <translation>The iPhone is attached but could not be opened. Unplug it and plug it in again.</translation>
    </message>
    <message>
        <source>IDS_IOS_TRUST_WAITING_%1</source>
        <translation>Waiting for %1 to trust this computer...</translation>
    </message>
    <message>
        <source>IDS_IOS_ICLOUD_CONTACTS</source>
        <translation>This iPhone keeps its contacts in iCloud. Only the contacts stored "On My iPhone" are read, and what you send goes to that local store and may not show on the phone.</translation>
    </message>
    <message>
        <source>IDS_RECEIVING_CONTACTS_FROM_IOS</source>
        <translation>Loading contacts from device...</translation>
    </message>
    <message>
        <source>IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS</source>
        <translation>Successfully transferred %1 contacts to device.</translation>
    </message>
    <message>
        <source>IDS_SUC_TRANSFER_%1_CONTACTS_TO_IOS_MERGED_%2</source>
        <translation>Successfully transferred %1 contacts to device, with %2 repeated contacts merged.</translation>
    </message>
    <!-- iTunes backup reading -->
    <message>
        <source>Cannot find </source>
        <translation>Cannot find </translation>
    </message>
    <message>
        <source>can not open %1. %2</source>
        <translation>can not open %1. %2</translation>
    </message>
    <message>
        <source>can not create %1. %2</source>
        <translation>can not create %1. %2</translation>
    </message>
    <!-- iTunes backup decryption -->
    <message>
        <source>BackupManifest::decryptFile: decrypt failed. %1</source>
        <translation>BackupManifest::decryptFile: decrypt failed. %1</translation>
    </message>
    <message>
        <source>MBDBParser::decryptFileDescThrow, invalid key size.</source>
        <translation>MBDBParser::decryptFileDescThrow, invalid key size.</translation>
    </message>
    <message>
        <source>MBDBParser::decryptFileDescThrow, %1</source>
        <translation>MBDBParser::decryptFileDescThrow, %1</translation>
    </message>
    <message>
        <source>QOpenSSLEVPAES::init, EVP_CipherInit_ex return false.</source>
        <translation>QOpenSSLEVPAES::init, EVP_CipherInit_ex return false.</translation>
    </message>
    <message>
        <source>QOpenSSLEVPAES::update, EVP_CipherUpdate return false.</source>
        <translation>QOpenSSLEVPAES::update, EVP_CipherUpdate return false.</translation>
    </message>
    <message>
        <source>QOpenSSLEVPAES::final, EVP_CipherFinal_ex return false.</source>
        <translation>QOpenSSLEVPAES::final, EVP_CipherFinal_ex return false.</translation>
    </message>
    <message>
        <source>QOpenSSLEVPAES::updateAll, read file error.</source>
        <translation>QOpenSSLEVPAES::updateAll, read file error.</translation>
    </message>
    <message>
        <source>QOpenSSLEVPAES::updateAll, EVP_CipherUpdate return false.</source>
        <translation>QOpenSSLEVPAES::updateAll, EVP_CipherUpdate return false.</translation>
    </message>
    <message>
        <source>QOpenSSLEVPAES::updateAll, write file error, %1</source>
        <translation>QOpenSSLEVPAES::updateAll, write file error, %1</translation>
    </message>
    <message>
        <source>QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false.</source>
        <translation>QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false.</translation>
    </message>
    <message>
        <source>QOpenSSLEVPAES::finalAll, write file error, %1</source>
        <translation>QOpenSSLEVPAES::finalAll, write file error, %1</translation>
    </message>
    <!-- iTunes address book import -->
    <message>
        <source>IDS_READING_BACKUP_FILE_TABLE_%1</source>
        <translation>Reading the backup's file table: %1%</translation>
    </message>
    <message>
        <source>IDS_READING_CONTACTS_FROM_ITUNES</source>
        <translation>Loading contacts from iTunes Backup...</translation>
    </message>
    <message>
        <source>IDS_WRITING_CONTACTS_FROM_ITUNES_TO_LOCALDB</source>
        <translation>Importing contacts from iTunes Backup now...</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES_%2_MERGED</source>
        <translation>Successfully imported %1 contacts from iTunes Backup, with %2 repeated contacts merged.</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES</source>
        <translation>Successfully imported %1 contacts from iTunes Backup.</translation>
    </message>
    <message>
        <source>IDS_ITUNES_%1_PHOTOS_SKIPPED</source>
        <translation>%1 photos could not be read and were skipped; their contacts were imported without them.</translation>
    </message>
    <message>
        <source>IDS_ITUNES_PHOTOS_NOT_IMPORTED_%1</source>
        <translation>Photos were not imported: the backup's photo database could not be read (%1).</translation>
    </message>
    <!-- iTunes backup list and password dialogs -->
    <message>
        <source>IDS_SELECT_AN_ITUNES_BACKUP_TO_LOAD</source>
        <translation>Please select an iTunes Backup to load.</translation>
    </message>
    <message>
        <source>IDS_NO_BACKUP_LISTED_THERE_CLICK_&lt;a href=&quot;#&quot;&gt;Here&lt;/a&gt;_ADD</source>
        <translation>Can't find your iTunes Backup on the list? Please manually import it by clicking &lt;a href=&quot;#&quot;&gt;HERE&lt;/a&gt;.</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Backup Date</source>
        <translation>Backup Date</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>IDS_PLEASE_ENTER_PASSWORD_TO_LOAD_BACKUP</source>
        <translation>This iTunes Backup is encrypted. Please enter password:</translation>
    </message>
    <message>
        <source>IDS_ENTER_PASSWORD</source>
        <translation>Enter password</translation>
    </message>
    <message>
        <source>load %1 error. %2</source>
        <translation>load %1 error. %2</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_ONE_ITUNES_BACKUP</source>
        <translation>Need to select an iTunes Backup to continue.</translation>
    </message>
    <message>
        <source>IDS_LOAD_BK_EXISTS</source>
        <translation>This iTunes Backup has been listed on the left.</translation>
    </message>
    <message>
        <source>IDS_PWD_IS_NULL</source>
        <translation>Password is required.</translation>
    </message>
    <message>
        <source>IDS_INVALID_PASSWORD</source>
        <translation>Invalid password.</translation>
    </message>
    <message>
        <source>Verifying. Please wait...</source>
        <translation>Verifying. Please wait...</translation>
    </message>
    <message>
        <source>IOSiTunesBKSetPasswordThread: %1</source>
        <translation>IOSiTunesBKSetPasswordThread: %1</translation>
    </message>
    <!-- contact file import and export -->
    <message>
        <source>IDS_IMPORTING_CONTACTS_TO_DB</source>
        <translation>Importing contacts to Local Database now...</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_CONTACTS_TO_DB_%2_MERGED</source>
        <translation>Successfully imported %1 contacts, with %2 repeated contacts merged.</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_CONTACTS_TO_DB_%2_MERGED_%3_SKIPPED</source>
        <translation>%1 cards imported (%2 merged into contacts of the same name), %3 lines skipped.</translation>
    </message>
    <message>
        <source>IDS_IMPORT_NO_CONTACTS_%1_SKIPPED</source>
        <translation>No contact could be read from the file (%1 lines skipped).</translation>
    </message>
    <message>
        <source>IDS_SUC_IMPORT_%1_CONTACTS_TO_DB</source>
        <translation>Successfully imported %1 contacts.</translation>
    </message>
    <message>
        <source>IDS_EXPORTING_CONTACTS_TO_FILE</source>
        <translation>Exporting contacts to File now...</translation>
    </message>
    <!-- HTML export, printing and contact view sections -->
    <message>
        <source>IDS_PRINT_CONTACTS</source>
        <translation>Print Contacts</translation>
    </message>
    <message>
        <source>Phone:</source>
        <translation>Phone:</translation>
    </message>
    <message>
        <source>E-Mail:</source>
        <translation>E-Mail:</translation>
    </message>
    <message>
        <source>Date:</source>
        <translation>Date:</translation>
    </message>
    <message>
        <source>IM:</source>
        <translation>IM:</translation>
    </message>
    <message>
        <source>Organization:</source>
        <translation>Organization:</translation>
    </message>
    <message>
        <source>Relationship:</source>
        <translation>Relationship:</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>Website:</source>
        <translation>Website:</translation>
    </message>
    <message>
        <source>Notes:</source>
        <translation>Notes:</translation>
    </message>
    <message>
        <source>Birthday:</source>
        <translation>Birthday:</translation>
    </message>
    <!-- contact editor and group dialog -->
    <message>
        <source>Apply</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>IDS_EDIT_CONTACT_%1</source>
        <translation>Edit Contact %1</translation>
    </message>
    <message>
        <source>IDS_NEW_CONTACT</source>
        <translation>Add New Contact</translation>
    </message>
    <message>
        <source>IDS_ENTER_FIRSTNAME_OR_LASTNAME</source>
        <translation>Enter a first name, a last name or a company.</translation>
    </message>
    <message>
        <source>IDS_CONTACT_NAME_%1_EXIST</source>
        <translation>Contact %1 has already existed.</translation>
    </message>
    <message>
        <source>IDS_CANCEL_EDIT_CONTACT_WILL_LOST_CHANGES_CONTINUE</source>
        <translation>Discard the editing?</translation>
    </message>
    <message>
        <source>&lt;a href=&quot;#&quot;&gt;Delete Photo&lt;/a&gt;</source>
        <translation>&lt;a href=&quot;#&quot;&gt;Delete Photo&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Delete Photo</source>
        <translation>Delete Photo</translation>
    </message>
    <message>
        <source>Prefix</source>
        <translation>Prefix</translation>
    </message>
    <message>
        <source>First Name</source>
        <translation>First Name</translation>
    </message>
    <message>
        <source>Middle Name</source>
        <translation>Middle Name</translation>
    </message>
    <message>
        <source>Last Name</source>
        <translation>Last Name</translation>
    </message>
    <message>
        <source>Suffix</source>
        <translation>Suffix</translation>
    </message>
    <message>
        <source>Nickname</source>
        <translation>Nickname</translation>
    </message>
    <message>
        <source>Job Title</source>
        <translation>Job Title</translation>
    </message>
    <message>
        <source>Department</source>
        <translation>Department</translation>
    </message>
    <message>
        <source>Company</source>
        <translation>Company</translation>
    </message>
    <message>
        <source>Phone Number</source>
        <translation>Phone Number</translation>
    </message>
    <message>
        <source>E-Mail Address</source>
        <translation>E-Mail Address</translation>
    </message>
    <message>
        <source>Date (year-month-day):</source>
        <translation>Date (year-month-day):</translation>
    </message>
    <message>
        <source>Relationshp:</source>
        <translation>Relationship:</translation>
    </message>
    <message>
        <source>Url:</source>
        <translation>Url:</translation>
    </message>
    <message>
        <source>Url</source>
        <translation>Url</translation>
    </message>
    <message>
        <source>Country</source>
        <translation>Country</translation>
    </message>
    <message>
        <source>State</source>
        <translation>State</translation>
    </message>
    <message>
        <source>City</source>
        <translation>City</translation>
    </message>
    <message>
        <source>Postcode</source>
        <translation>Postcode</translation>
    </message>
    <message>
        <source>Images (*.png *.jpg)</source>
        <translation>Images (*.png *.jpg)</translation>
    </message>
    <message>
        <source>Pick a Group or enter new Group name;</source>
        <translation>Pick a Group or enter new Group name;</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_UNGROUP_CONTACTS</source>
        <translation>Confirm to remove seleted member from the Group?</translation>
    </message>
    <!-- the adb server beside the program -->
    <message>
        <source>IDS_ADB_ROUTE_SERVER_%1_%2</source>
        <translation>Android phones: reached through the adb server running on port %1 (protocol %2), so your own adb keeps working.</translation>
    </message>
    <message>
        <source>IDS_ADB_ROUTE_DIRECT_%1</source>
        <translation>Android phones: reached directly over USB (no adb server answered on port %1 at start).</translation>
    </message>
    <message>
        <source>IDS_ADB_END_SERVER_%1_%2_%3</source>
        <translation>An adb server has started: %1 (process %2, %3). While it runs, it competes with Tallowbrook Contact Mover for the Android phones.&lt;br/&gt;&lt;br/&gt;End this adb server?</translation>
    </message>
    <message>
        <source>IDS_ADB_PATH_UNKNOWN</source>
        <translation>path unknown</translation>
    </message>
    <!-- main window in daily use: questions naming what they delete, search, tool bar, help, Wi-Fi -->
    <message>
        <source>1 contact</source>
        <translation>1 contact</translation>
    </message>
    <message>
        <source>%1 contacts</source>
        <translation>%1 contacts</translation>
    </message>
    <message>
        <source>Delete the contact %1 from %2?</source>
        <translation>Delete the contact %1 from %2?</translation>
    </message>
    <message>
        <source>Delete the %1 selected contacts from %2?</source>
        <translation>Delete the %1 selected contacts from %2?</translation>
    </message>
    <message>
        <source>They are deleted on the phone as well.</source>
        <translation>They are deleted on the phone as well.</translation>
    </message>
    <message>
        <source>Delete the group %1 and its %2 from %3?</source>
        <translation>Delete the group %1 and its %2 from %3?</translation>
    </message>
    <message>
        <source>Delete the local database %1 with its %2? Its file is removed from this computer.</source>
        <translation>Delete the local database %1 with its %2? Its file is removed from this computer.</translation>
    </message>
    <message>
        <source>Delete all %1 on %2?</source>
        <translation>Delete all %1 on %2?</translation>
    </message>
    <message>
        <source>Delete Group and Its Contacts</source>
        <translation>Delete Group and Its Contacts</translation>
    </message>
    <message>
        <source>Delete All Contacts on the Phone</source>
        <translation>Delete All Contacts on the Phone</translation>
    </message>
    <message>
        <source>Delete %1 selected contacts</source>
        <translation>Delete %1 selected contacts</translation>
    </message>
    <message>
        <source>Copy %1 from %2 to %3?</source>
        <translation>Copy %1 from %2 to %3?</translation>
    </message>
    <message>
        <source>no contacts match.</source>
        <translation>no contacts match.</translation>
    </message>
    <message>
        <source>Search names, numbers, e-mails… (Ctrl+F)</source>
        <translation>Search names, numbers, e-mails… (Ctrl+F)</translation>
    </message>
    <message>
        <source>Backup</source>
        <translation>Backup</translation>
    </message>
    <message>
        <source>To iPhone</source>
        <translation>To iPhone</translation>
    </message>
    <message>
        <source>To Android</source>
        <translation>To Android</translation>
    </message>
    <message>
        <source>From iTunes</source>
        <translation>From iTunes</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>Import</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>Print</source>
        <translation>Print</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>No web browser could be opened. The latest version is on the download page:&lt;br/&gt;%1</source>
        <translation>No web browser could be opened. The latest version is on the download page:&lt;br/&gt;%1</translation>
    </message>
    <message>
        <source>The help page could not be written into the data folder %1.</source>
        <translation>The help page could not be written into the data folder %1.</translation>
    </message>
    <message>
        <source>No web browser could be opened. The help page is the file:&lt;br/&gt;%1</source>
        <translation>No web browser could be opened. The help page is the file:&lt;br/&gt;%1</translation>
    </message>
    <message>
        <source>No e-mail program could be opened. Please write to %1.</source>
        <translation>No e-mail program could be opened. Please write to %1.</translation>
    </message>
    <message>
        <source>The phone refused the connection.</source>
        <translation>The phone refused the connection.</translation>
    </message>
    <message>
        <source>Please check that Tallowbrook Contacts Sync is installed and running on the phone, that the address is the one the app shows, and that the phone is on the same network as this computer.</source>
        <translation>Please check that Tallowbrook Contacts Sync is installed and running on the phone, that the address is the one the app shows, and that the phone is on the same network as this computer.</translation>
    </message>
    <message>
        <source>Could not connect to the phone at %1.</source>
        <translation>Could not connect to the phone at %1.</translation>
    </message>
    <message>
        <source>Connecting to the phone at %1…</source>
        <translation>Connecting to the phone at %1…</translation>
    </message>
    <message>
        <source>Waiting for Tallowbrook Contacts Sync to answer.</source>
        <translation>Waiting for Tallowbrook Contacts Sync to answer.</translation>
    </message>
    <message>
        <source>Choose a Database for the Imported Contacts</source>
        <translation>Choose a Database for the Imported Contacts</translation>
    </message>
    <message>
        <source>iPhone Backup Password</source>
        <translation>iPhone Backup Password</translation>
    </message>
    <!-- snapshots before writes, and undo -->
    <message>
        <source>Edit</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>Undo last change on this phone</source>
        <translation>Undo last change on this phone</translation>
    </message>
    <message>
        <source>Changes to %1 cannot be undone.</source>
        <translation>Changes to %1 cannot be undone.</translation>
    </message>
    <message>
        <source>There is no change to undo on %1.</source>
        <translation>There is no change to undo on %1.</translation>
    </message>
    <message>
        <source>%1 already is as it was before that change.</source>
        <translation>%1 already is as it was before that change.</translation>
    </message>
    <message>
        <source>Undo &quot;%1&quot; of %2 on %3?</source>
        <translation>Undo &quot;%1&quot; of %2 on %3?</translation>
    </message>
</context>
</TS>
