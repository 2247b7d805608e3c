use super::*;

fn settings_of(record: &SettingsRecord) -> DefaultSettings<f64> {
    match to_settings(record) {
        Ok(settings) => settings,
        Err(_) => panic!("the record was refused"),
    }
}

#[test]
fn the_all_zero_record_gives_the_crate_defaults_without_printing() {
    // SAFETY: every field of the record is valid as zero bytes (no override, no hook).
    let record: SettingsRecord = unsafe { std::mem::zeroed() };
    let quiet_defaults = DefaultSettings::<f64> {
        verbose: false,
        ..DefaultSettings::default()
    };
    assert_eq!(format!("{:?}", settings_of(&record)), format!("{quiet_defaults:?}"));
}
