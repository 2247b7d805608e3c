use super::*;

#[test]
fn each_listed_name_is_the_crates_text() {
    for (status, name) in LISTED {
        assert_eq!(status.to_string(), *name);
    }
}
