DROP TABLE IF EXISTS vsc_log;
CREATE TABLE vsc_log (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    logon_server VARCHAR(255) COLLATE NOCASE,
    localuser INTEGER,
    user_name VARCHAR(255) NOT NULL COLLATE NOCASE,
    event_type INTEGER NOT NULL,
    event_time DATETIME NOT NULL,
    desktop_type INTEGER,
    dev_type INTEGER,
    dev_guid VARCHAR(255) COLLATE NOCASE,
    dev_name VARCHAR(255) COLLATE NOCASE,
    result INTEGER NOT NULL,
    result_sub INTEGER,
    err_msg VARCHAR(1023) COLLATE NOCASE,
    logon_option INTEGER,
    logon_param INTEGER,
    upload_flag INTEGER,
    upload_time DATETIME
);
CREATE INDEX index_vsc_log_op ON vsc_log (event_time, event_type, logon_server, user_name);
CREATE INDEX index_vsc_log_dev ON vsc_log (dev_guid);
